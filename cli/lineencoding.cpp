#include "lineencoding.h"

#include <QChar>

#include <algorithm>
#include <cstring>

namespace varnel::cli {

bool isAscii(QByteArrayView bytes) {
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    quint64 high = 0;
    for (; end - p >= 8; p += 8) {
        quint64 word;
        std::memcpy(&word, p, 8);
        high |= word;
    }
    for (; p < end; ++p)
        high |= quint64(static_cast<unsigned char>(*p));
    return (high & 0x8080808080808080ull) == 0;
}

bool readsAsLatin1(QByteArrayView windows1252) {
    return std::none_of(windows1252.begin(), windows1252.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x80 && static_cast<unsigned char>(c) < 0xA0;
    });
}

// A general encoder called once a line costs more than this.
char* encodeUtf8(LineText text, char* out) {
    if (!text.isWide()) {
        for (const uchar c : QByteArrayView(text.bytes(), text.size())) {
            if (c < 0x80) {
                *out++ = char(c);
            } else {
                *out++ = char(0xC0 | (c >> 6));
                *out++ = char(0x80 | (c & 0x3F));
            }
        }
        return out;
    }
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

} // namespace varnel::cli
