#pragma once

#include <QByteArrayView>
#include <QString>

namespace varnel {

// How a text's bytes are decoded. A UTF-16 byte-order mark (either order) makes it UTF-16; a
// UTF-8 mark makes it UTF-8, bytes that are no UTF-8 then read as U+FFFD; otherwise it is
// UTF-8 when every byte sequence is strict UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF, nothing cut short at the end) and Windows-1252 when not. A mark at the
// start is never part of the text; one further on is a character.
struct ByteOrderMark {
    enum class Kind { None, Utf8, Utf16LittleEndian, Utf16BigEndian };
    Kind kind = Kind::None;
    qsizetype length = 0;
    bool isUtf16() const { return kind == Kind::Utf16LittleEndian || kind == Kind::Utf16BigEndian; }
};
// The most bytes a mark takes: what a reader needs before it asks.
constexpr qsizetype LongestByteOrderMark = 3;
// The mark that starts `head` (at least its first LongestByteOrderMark bytes, or the whole
// text when it is shorter).
ByteOrderMark byteOrderMarkOf(QByteArrayView head);

// The bytes of a whole text file, decoded by the rules above.
QString decodeTextFile(QByteArrayView bytes);

} // namespace varnel
