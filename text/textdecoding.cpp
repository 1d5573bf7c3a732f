#include "textdecoding.h"

#include "utf8pieces.h"
#include "windows1252.h"

#include <QStringDecoder>

#include <optional>

namespace varnel {

ByteOrderMark byteOrderMarkOf(QByteArrayView head) {
    using Kind = ByteOrderMark::Kind;
    if (head.startsWith("\xFF\xFE"))
        return {Kind::Utf16LittleEndian, 2};
    if (head.startsWith("\xFE\xFF"))
        return {Kind::Utf16BigEndian, 2};
    if (head.startsWith("\xEF\xBB\xBF"))
        return {Kind::Utf8, 3};
    return {};
}

namespace {

// The bytes as strict UTF-8; nothing when they are not.
std::optional<QString> strictUtf8(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    const Utf8Piece piece =
        decodeUtf8Piece(bytes.data(), bytes.size(), reinterpret_cast<char16_t*>(text.data()));
    if (!piece.wellFormed || piece.read != bytes.size())
        return std::nullopt;
    text.truncate(piece.written);
    return text;
}

} // namespace

QString decodeTextFile(QByteArrayView bytes) {
    // Stateless: a sequence cut off by the end of the file is an error, not something to
    // wait for. Qt's decoders drop the mark themselves, and only the first.
    constexpr auto flags = QStringConverter::Flag::Stateless;
    const ByteOrderMark mark = byteOrderMarkOf(bytes);
    const QByteArrayView text = bytes.sliced(mark.length);
    switch (mark.kind) {
    case ByteOrderMark::Kind::Utf16LittleEndian:
        return QStringDecoder(QStringConverter::Utf16LE, flags).decode(bytes);
    case ByteOrderMark::Kind::Utf16BigEndian:
        return QStringDecoder(QStringConverter::Utf16BE, flags).decode(bytes);
    case ByteOrderMark::Kind::Utf8:
    case ByteOrderMark::Kind::None:
        break;
    }
    if (std::optional<QString> strict = strictUtf8(text))
        return *std::move(strict);
    if (mark.kind == ByteOrderMark::Kind::Utf8)
        return QStringDecoder(QStringConverter::Utf8, flags).decode(bytes);
    return decodeWindows1252(text);
}

} // namespace varnel
