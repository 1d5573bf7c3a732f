#pragma once

#include <QtGlobal>

namespace varnel {

// What decoding a piece of UTF-8 did: how many bytes it took, how many UTF-16 units it
// wrote, and whether everything it took was well-formed.
struct Utf8Piece {
    qsizetype read;
    qsizetype written;
    bool wellFormed;
};

// Decodes strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF) into
// `out`, which has room for `size` units; units past those it reports written may be
// overwritten with scratch. It stops at the first ill-formed sequence, and
// before a sequence that the end of the piece may have cut short: the caller hands those
// bytes in again at the start of the next piece. A byte-order mark is a character here.
Utf8Piece decodeUtf8Piece(const char* in, qsizetype size, char16_t* out);

// The same into one byte a character (Latin-1), for text whose characters are all below
// U+0100. It stops, not well-formed, at the first sequence it cannot write that way: one
// that decodeUtf8Piece either decodes to a wider character or finds ill-formed. A two-byte
// sequence cut short by the end of the piece is left for the next, as above.
//
// Plain decodes a byte at a time; Fastest takes sixteen bytes at a time where the processor
// has the instructions for it, and gives the same answers.
enum class Utf8Way { Fastest, Plain };
Utf8Piece decodeUtf8Latin1Piece(const char* in, qsizetype size, char* out,
                                Utf8Way way = Utf8Way::Fastest);

} // namespace varnel
