#pragma once

// Which bytes may begin a strict UTF-8 sequence, for every reader that judges UTF-8: the
// text readers and decoders, and the file-system layer's file names.

#include <array>

namespace varnel {

// A byte as the first of a strict UTF-8 sequence: its length (0 for a byte that starts
// none, 1 for ASCII) and the range its second byte must lie in, which rules out overlong
// forms, surrogates and everything above U+10FFFF. Later bytes lie in 80 to BF.
struct Utf8Lead {
    unsigned char length;
    unsigned char low;
    unsigned char high;
};

inline constexpr std::array<Utf8Lead, 256> Utf8Leads = [] {
    std::array<Utf8Lead, 256> leads{};
    for (int b = 0; b < 0x80; ++b)
        leads[b] = {1, 0, 0};
    for (int b = 0xC2; b <= 0xDF; ++b)
        leads[b] = {2, 0x80, 0xBF};
    for (int b = 0xE0; b <= 0xEF; ++b)
        leads[b] = {3, 0x80, 0xBF};
    for (int b = 0xF0; b <= 0xF4; ++b)
        leads[b] = {4, 0x80, 0xBF};
    leads[0xE0].low = 0xA0;  // below: overlong
    leads[0xED].high = 0x9F; // above: surrogates
    leads[0xF0].low = 0x90;  // below: overlong
    leads[0xF4].high = 0x8F; // above: beyond U+10FFFF
    return leads;
}();

} // namespace varnel
