#pragma once

#include "linebreaks.h"
#include "lineplaces.h"

#include <QtGlobal>

#include <vector>

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

// decodeUtf8Latin1Piece and the line rule of text/linebreaks.h in one pass, sixty-four bytes
// at a time: the text is read from memory once and the page faults of its breaks are
// never taken. The breaks are left out of the text, so each line follows the one before
// directly; `out` is the text from position `at` on, with room for `size` characters. Each
// line a break ends goes to `lines`; the one after the last break stays open in `cuts`, its
// `start` and `afterCr` (a CR ended what was taken).
//
// It takes blocks of ASCII and two-byte sequences led by C2 or C3, the letters of Western
// European lists, and stops, not well-formed, before the first block holding anything else:
// decodeUtf8Latin1Piece goes on from there, and the lines of what it decodes, breaks kept,
// are cut as before. A two-byte sequence cut short by the end of the piece is left for the
// next, well-formed. Where the processor lacks the instructions it takes nothing at all.
Utf8Piece decodeUtf8Latin1Lines(const char* in, qsizetype size, char* out, qsizetype at,
                                LineCuts& cuts, LinePlaces& lines);
// Whether decodeUtf8Latin1Lines takes anything on this processor.
bool haveLatin1LineVectors();

} // namespace varnel
