#include "streamtext.h"

#include "textfilelines.h"

#include <QChar>
#include <QString>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace varnel {

namespace {

constexpr quint64 HighBits = 0x8080808080808080ULL;

quint64 eightBytes(const unsigned char* p) {
    quint64 word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Windows-1252 above ASCII, as the window decodes it.
const std::array<char16_t, 128>& windows1252High() {
    static const std::array<char16_t, 128> table = [] {
        QByteArray bytes(128, Qt::Uninitialized);
        for (int b = 0; b < 128; ++b)
            bytes[b] = char(0x80 + b);
        const QString text = decodeWindows1252(bytes);
        std::array<char16_t, 128> units{};
        std::copy_n(reinterpret_cast<const char16_t*>(text.utf16()), 128, units.begin());
        return units;
    }();
    return table;
}

} // namespace

char16_t* decodeValidUtf8(QByteArrayView bytes, char16_t* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p < end) {
        if (std::endian::native == std::endian::little && end - p >= 8 &&
            !(eightBytes(p) & HighBits)) {
            for (int i = 0; i < 8; ++i)
                out[i] = p[i];
            p += 8;
            out += 8;
            continue;
        }
        const unsigned char lead = *p;
        if (lead < 0x80) {
            *out++ = lead;
            p += 1;
        } else if (lead < 0xE0) {
            *out++ = char16_t(((lead & 0x1F) << 6) | (p[1] & 0x3F));
            p += 2;
        } else if (lead < 0xF0) {
            *out++ = char16_t(((lead & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
            p += 3;
        } else {
            const char32_t c = ((lead & 0x07) << 18) | ((p[1] & 0x3F) << 12) |
                               ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
            *out++ = QChar::highSurrogate(c);
            *out++ = QChar::lowSurrogate(c);
            p += 4;
        }
    }
    return out;
}

char16_t windows1252Unit(unsigned char byte) {
    return byte < 0x80 ? char16_t(byte) : windows1252High()[byte - 0x80];
}

const LoweredBytes& loweredWindows1252() {
    static const LoweredBytes table = [] {
        LoweredBytes lowered{};
        for (int b = 0; b < 256; ++b) {
            lowered[b] = char16_t(QChar::toLower(windows1252Unit(static_cast<unsigned char>(b))));
        }
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
