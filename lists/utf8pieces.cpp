#include "utf8pieces.h"

#include <cstring>

namespace varnel {

namespace {

constexpr quint64 HighBits = 0x8080808080808080u;

// The length of a sequence by its first byte and the least code point it may carry; 0
// for a byte that starts none.
struct Lead {
    int length;
    char32_t least;
    char32_t bits;
};

inline Lead leadOf(unsigned char b) {
    if (b >= 0xC2 && b <= 0xDF)
        return {2, 0x80, char32_t(b & 0x1F)};
    if (b >= 0xE0 && b <= 0xEF)
        return {3, 0x800, char32_t(b & 0x0F)};
    if (b >= 0xF0 && b <= 0xF4)
        return {4, 0x10000, char32_t(b & 0x07)};
    return {0, 0, 0};
}

} // namespace

Utf8Piece decodeUtf8Piece(const char* in, qsizetype size, char16_t* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(in);
    qsizetype i = 0;
    qsizetype o = 0;
    while (i < size) {
        // Plain text is mostly ASCII: eight bytes at a time while none has its top bit.
        for (quint64 word; i + 8 <= size; i += 8, o += 8) {
            std::memcpy(&word, p + i, sizeof word);
            if (word & HighBits)
                break;
            for (int k = 0; k < 8; ++k)
                out[o + k] = p[i + k];
        }
        if (i == size)
            break;
        if (p[i] < 0x80) {
            out[o++] = p[i++];
            continue;
        }
        const Lead lead = leadOf(p[i]);
        if (lead.length == 0)
            return {i, o, false};
        if (i + lead.length > size)
            return {i, o, true};
        char32_t cp = lead.bits;
        for (int k = 1; k < lead.length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return {i, o, false};
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < lead.least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return {i, o, false};
        if (cp >= 0x10000) {
            out[o++] = char16_t(0xD7C0 + (cp >> 10));
            out[o++] = char16_t(0xDC00 | (cp & 0x3FF));
        } else {
            out[o++] = char16_t(cp);
        }
        i += lead.length;
    }
    return {i, o, true};
}

} // namespace varnel
