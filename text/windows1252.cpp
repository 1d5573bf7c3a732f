#include "windows1252.h"

#include <QChar>

namespace varnel {

namespace {

// 0x80 to 0x9F; every other byte is the Latin-1 character of the same value.
constexpr char16_t Windows1252Controls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

char16_t windows1252Unit(unsigned char byte) {
    return (byte & 0xE0) == 0x80 ? Windows1252Controls[byte - 0x80] : char16_t(byte);
}

QString decodeWindows1252(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    for (const char byte : bytes)
        *out++ = windows1252Unit(static_cast<unsigned char>(byte));
    return text;
}

const LoweredBytes& loweredWindows1252() {
    static const LoweredBytes table = [] {
        LoweredBytes lowered{};
        for (int b = 0; b < 256; ++b)
            lowered[b] = char16_t(QChar::toLower(windows1252Unit(static_cast<unsigned char>(b))));
        return lowered;
    }();
    return table;
}

void appendWindows1252AsUtf8(QByteArrayView bytes, QByteArray& out) {
    for (const char byte : bytes) {
        const char16_t c = windows1252Unit(static_cast<unsigned char>(byte));
        if (c < 0x80) {
            out.append(char(c));
        } else if (c < 0x800) {
            out.append(char(0xC0 | (c >> 6))).append(char(0x80 | (c & 0x3F)));
        } else {
            out.append(char(0xE0 | (c >> 12)))
                .append(char(0x80 | ((c >> 6) & 0x3F)))
                .append(char(0x80 | (c & 0x3F)));
        }
    }
}

} // namespace varnel
