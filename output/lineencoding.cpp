#include "lineencoding.h"

#include <QChar>

#include <algorithm>

namespace varnel {

bool readsAsLatin1(QByteArrayView windows1252) {
    return std::none_of(windows1252.begin(), windows1252.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x80 && static_cast<unsigned char>(c) < 0xA0;
    });
}

char* encodeLatin1AsUtf8(QLatin1StringView text, char* out) {
    for (const char byte : text) {
        const auto c = uchar(byte);
        if (c < 0x80) {
            *out++ = char(c);
        } else {
            *out++ = char(0xC0 | (c >> 6));
            *out++ = char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// A general encoder called once a line costs more than this.
char* encodeUtf8(LineText text, char* out) {
    if (!text.isWide())
        return encodeLatin1AsUtf8(text.narrow(), out);
    const char16_t* p = text.wide().utf16();
    const char16_t* const end = p + text.size();
    while (p < end) {
        const char16_t c = *p++;
        if (c < 0x80) {
            *out++ = char(c);
        } else if (c < 0x800) {
            *out++ = char(0xC0 | (c >> 6));
            *out++ = char(0x80 | (c & 0x3F));
        } else if (!QChar::isSurrogate(c)) {
            *out++ = char(0xE0 | (c >> 12));
            *out++ = char(0x80 | ((c >> 6) & 0x3F));
            *out++ = char(0x80 | (c & 0x3F));
        } else if (QChar::isHighSurrogate(c) && p < end && QChar::isLowSurrogate(*p)) {
            const char32_t u = QChar::surrogateToUcs4(c, *p++);
            *out++ = char(0xF0 | (u >> 18));
            *out++ = char(0x80 | ((u >> 12) & 0x3F));
            *out++ = char(0x80 | ((u >> 6) & 0x3F));
            *out++ = char(0x80 | (u & 0x3F));
        } else {
            *out++ = '?';
        }
    }
    return out;
}

char* encodeUtf16(QStringView units, bool bigEndian, char* out) {
    for (const QChar unit : units) {
        const char16_t u = unit.unicode();
        *out++ = char(bigEndian ? u >> 8 : u & 0xFF);
        *out++ = char(bigEndian ? u & 0xFF : u >> 8);
    }
    return out;
}

} // namespace varnel
