#include "utf8pieces.h"

#include "utf8bytes.h"

namespace varnel {

Utf8Piece decodeUtf8Piece(const char* in, qsizetype size, char16_t* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(in);
    qsizetype i = 0;
    qsizetype o = 0;
    while (i < size) {
        // The room for `size` units takes the spare ones the run of ASCII may write.
        const qsizetype ascii = copyAscii(in + i, size - i, out + o);
        i += ascii;
        o += ascii;
        if (i == size)
            break;
        const Utf8Lead lead = Utf8Leads[p[i]];
        if (lead.length == 0)
            return {i, o, false};
        if (i + lead.length > size)
            return {i, o, true};
        if (p[i + 1] < lead.low || p[i + 1] > lead.high)
            return {i, o, false};
        char32_t cp = leadBits(p[i], lead.length) << 6 | (p[i + 1] & 0x3F);
        for (int k = 2; k < lead.length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return {i, o, false};
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
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

Utf8Piece decodeUtf8Latin1Piece(const char* in, qsizetype size, char* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(in);
    qsizetype i = 0;
    qsizetype o = 0;
    while (i < size) {
        const qsizetype ascii = copyAscii(in + i, size - i, out + o);
        i += ascii;
        o += ascii;
        if (i == size)
            break;
        // U+0080 to U+00FF are C2 or C3 and one continuation byte.
        if (p[i] != 0xC2 && p[i] != 0xC3)
            return {i, o, false};
        if (i + 1 == size)
            return {i, o, true};
        if ((p[i + 1] & 0xC0) != 0x80)
            return {i, o, false};
        out[o++] = char((p[i] & 0x03) << 6 | (p[i + 1] & 0x3F));
        i += 2;
    }
    return {i, o, true};
}

} // namespace varnel
