#pragma once

#include <QtGlobal>

#include <memory>
#include <new>
#include <utility>
#include <vector>

// A whole UTF-8 file read at once and cut into lines on two threads, for the sort, which keeps
// every line's own bytes to write them back and a decoded text only where they differ.

namespace varnel {

// A vector that grows without first writing zeros over what is about to be written anyway.
template <typename T> struct Uninitialized : std::allocator<T> {
    template <typename U> struct rebind { using other = Uninitialized<U>; };
    Uninitialized() = default;
    template <typename U> Uninitialized(const Uninitialized<U>&) {}
    template <typename U> void construct(U* at) noexcept { ::new (static_cast<void*>(at)) U; }
    template <typename U, typename... Args> void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};
using Bytes = std::vector<char, Uninitialized<char>>;

// How a line of the sort's inputs keeps its text.
enum class LineForm : quint8 {
    Latin1Bytes, // its bytes are its text, one byte a character
    Narrow,      // bytes in the bytes, text in the narrow text
    Wide,        // bytes in the bytes, text in the wide text
    Utf16,       // a UTF-16 input's: its units in the wide text are its text, its bytes too
};

// A line of the sort's inputs: where its bytes are and where its text is.
struct InputLine {
    quint64 at;            // in the bytes, or for Utf16 in the wide text
    quint64 textAt : 61;   // in the narrow or wide text, for Narrow and Wide
    quint64 form : 2;      // LineForm
    quint64 validUtf8 : 1; // its bytes are UTF-8 as they are
    quint32 length;        // of its bytes, or its units for Utf16
    quint32 textLength;    // for Narrow and Wide
};
static_assert(sizeof(InputLine) == 24);
using InputLines = std::vector<InputLine, Uninitialized<InputLine>>;

// What cutting a text found.
struct Utf8Cut {
    bool utf8 = false; // when not, nothing was added
    bool allAscii = true;
    bool firstLineEndsWithCrLf = false;
};

// Cuts the text `bytes[from, to)` into lines by the line rule of linebreaks.h, as a
// LineStream would give them, when it is all UTF-8: appends them to `lines`, the text of a
// line beyond ASCII to `narrow` (one byte a character) or, holding a character beyond
// U+00FF, to `wide`. A text of `twoThreadsFrom` bytes or more is cut in two halves on two
// threads. Throws std::bad_alloc.
constexpr size_t TwoThreadCutSize = size_t(1) << 16;
Utf8Cut cutUtf8Lines(const Bytes& bytes, size_t from, size_t to, InputLines& lines, Bytes& narrow,
                     std::vector<char16_t>& wide, size_t twoThreadsFrom = TwoThreadCutSize);

// Reads the plain file open at `fd`, from where it stands, to the end of `bytes` in one
// piece, and when it is UTF-8 without a mark cuts it as above: the same lines a LineStream
// gives, without a copy of each. Anything else (no plain file, a mark, a byte that is no
// UTF-8) is left as it was, as if nothing had been read. Throws systemFailure when reading
// fails, std::bad_alloc.
Utf8Cut readWholeUtf8File(int fd, Bytes& bytes, InputLines& lines, Bytes& narrow,
                          std::vector<char16_t>& wide);

} // namespace varnel
