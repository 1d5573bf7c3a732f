// A file's bytes become the list's lines: whatever the bytes, decoding must pick the
// encoding the rules say, and splitting must cut exactly at the line breaks, so that the
// lines joined with the breaks they were cut at give back the whole text.

#include "tests/support/textreaders.h"
#include "text/linebreaks.h"
#include "text/textdecoding.h"
#include "text/utf8pieces.h"
#include "text/windows1252.h"

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// Strict UTF-8, written out on its own so the decoder is not checked against itself: no
// overlong forms, no surrogates, nothing above U+10FFFF, no sequence cut short.
bool isValidUtf8(QByteArrayView bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size;) {
        const unsigned char lead = p[i];
        int length = 0;
        char32_t min = 0;
        char32_t cp = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, min = 0x80, cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, min = 0x800, cp = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, min = 0x10000, cp = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > size)
            return false;
        for (int k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

// Files are decoded a piece at a time: cut anywhere, the pieces must give what the whole
// gives, and the whole is well-formed exactly when it is valid UTF-8.
void checkPieces(QByteArrayView bytes) {
    if (bytes.isEmpty())
        return;
    std::u16string whole(size_t(bytes.size()), u'\0');
    const varnel::Utf8Piece all = varnel::decodeUtf8Piece(bytes.data(), bytes.size(), whole.data());
    check(isValidUtf8(bytes) == (all.wellFormed && all.read == bytes.size()));
    // One byte a character as far as it goes: the same characters, stopping only before a
    // wider one, a fault, or a two-byte sequence the end cuts short.
    std::string narrow(size_t(bytes.size()), '\0');
    const varnel::Utf8Piece latin =
        varnel::decodeUtf8Latin1Piece(bytes.data(), bytes.size(), narrow.data());
    check(latin.read <= all.read || !all.wellFormed);
    for (qsizetype k = 0; k < latin.written; ++k)
        check(static_cast<unsigned char>(narrow[size_t(k)]) == whole[size_t(k)]);
    if (latin.read < bytes.size() && latin.wellFormed)
        check(latin.read + 1 == bytes.size());
    if (!latin.wellFormed && all.read > latin.read)
        check(whole[size_t(latin.written)] > 0xFF);
    // Sixteen bytes at a time or one at a time, the same answer and the same characters.
    std::string plain(size_t(bytes.size()), '\0');
    const varnel::Utf8Piece plainly = varnel::decodeUtf8Latin1Piece(
        bytes.data(), bytes.size(), plain.data(), varnel::Utf8Way::Plain);
    check(plainly.read == latin.read && plainly.written == latin.written &&
          plainly.wellFormed == latin.wellFormed);
    check(std::equal(plain.begin(), plain.begin() + latin.written, narrow.begin()));
    const qsizetype step = 1 + static_cast<unsigned char>(bytes.back()) % 7;
    std::u16string pieces(size_t(bytes.size()), u'\0');
    qsizetype read = 0;
    qsizetype written = 0;
    bool wellFormed = true;
    for (qsizetype cut = step;; cut += step) {
        cut = std::min(cut, bytes.size());
        const varnel::Utf8Piece done =
            varnel::decodeUtf8Piece(bytes.data() + read, cut - read, pieces.data() + written);
        read += done.read;
        written += done.written;
        wellFormed = done.wellFormed;
        if (!wellFormed || cut == bytes.size())
            break;
    }
    check(wellFormed == all.wellFormed && read == all.read && written == all.written);
    // Units past those written are scratch.
    check(pieces.compare(0, size_t(written), whole, 0, size_t(written)) == 0);
}

// Decoded and cut in one pass, a piece at a time: the lines of what it took decoded the plain
// way and then cut, one after the other in the text, their breaks left out.
void checkCutting(QByteArrayView bytes) {
    if (!varnel::haveLatin1LineVectors())
        return;
    const qsizetype step = 1 + (bytes.isEmpty() ? 0 : static_cast<unsigned char>(bytes[0]) % 97);
    std::string text(size_t(bytes.size()), '\0');
    varnel::LinePlaces lines;
    varnel::LineCuts cuts;
    qsizetype read = 0;
    qsizetype written = 0;
    for (qsizetype cut = step;; cut += step) {
        cut = std::min(cut, bytes.size());
        const varnel::Utf8Piece done = varnel::decodeUtf8Latin1Lines(
            bytes.data() + read, cut - read, text.data() + written, written, cuts, lines);
        read += done.read;
        written += done.written;
        if (!done.wellFormed || cut == bytes.size())
            break;
    }
    std::string plain(size_t(bytes.size()), '\0');
    const varnel::Utf8Piece taken =
        varnel::decodeUtf8Latin1Piece(bytes.data(), read, plain.data(), varnel::Utf8Way::Plain);
    check(taken.wellFormed && taken.read == read);
    // A character after the text ends its open line where the line rule would.
    QStringList expected =
        varnel::testing::splitTextLines(QString::fromLatin1(plain.data(), taken.written) + u'x');
    const QString open = expected.takeLast().chopped(1);
    check(qsizetype(lines.size()) == expected.size());
    qsizetype at = 0;
    for (size_t n = 0; n < lines.size(); ++n) {
        const varnel::LineSpan line = lines[n];
        check(qsizetype(line.offset) == at);
        check(QLatin1StringView(text.data() + at, line.length) == expected[qsizetype(n)]);
        at += line.length;
    }
    check(cuts.start == at && QLatin1StringView(text.data() + at, written - at) == open);
}

bool isBreak(QChar c) {
    return c == u'\r' || c == u'\n';
}

void checkDecoding(QByteArrayView bytes, const QString& text) {
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        // UTF-16: the mark goes, every further pair of bytes is one unit at most, and a
        // text of whole pairs without surrogates is those units exactly.
        const qsizetype pairs = (bytes.size() - 2) / 2;
        check(text.size() <= pairs + 1);
        const bool little = bytes.startsWith("\xFF\xFE");
        bool plain = (bytes.size() % 2) == 0;
        QString units;
        for (qsizetype i = 2; plain && i + 1 < bytes.size(); i += 2) {
            const auto a = static_cast<unsigned char>(bytes[i]);
            const auto b = static_cast<unsigned char>(bytes[i + 1]);
            const auto unit = char16_t(little ? (a | b << 8) : (a << 8 | b));
            plain = !QChar::isSurrogate(unit);
            units.append(QChar(unit));
        }
        if (plain)
            check(text == units);
        return;
    }
    if (isValidUtf8(bytes)) {
        // fromUtf8 leaves out a leading mark too, and only the first.
        check(text == QString::fromUtf8(bytes));
        return;
    }
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        // Marked as UTF-8 and broken: still UTF-8, the mark not part of it.
        check(!text.startsWith(QChar(0xFEFF)) || bytes.sliced(3).startsWith("\xEF\xBB\xBF"));
        return;
    }
    // Windows-1252: one character per byte, ASCII and Latin-1 letters as themselves.
    check(text.size() == bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80 || b >= 0xA0)
            check(text.at(i).unicode() == b);
        else
            check(text.at(i).unicode() >= 0x80);
    }
    check(varnel::decodeWindows1252(bytes) == text);
}

void checkSplitting(const QString& text) {
    const std::vector<varnel::LineSpan> spans = varnel::lineSpansOf(text);
    check(spans.empty() == text.isEmpty());
    // Rebuild the text from the lines and the breaks between them.
    QString rebuilt;
    qsizetype at = 0;
    for (size_t n = 0; n < spans.size(); ++n) {
        const varnel::LineSpan& span = spans[n];
        check(qsizetype(span.offset) + qsizetype(span.length) <= text.size());
        check(qsizetype(span.offset) == at);
        const QStringView line = QStringView(text).sliced(span.offset, span.length);
        for (QChar c : line)
            check(!isBreak(c));
        rebuilt += line;
        at += line.size();
        const QStringView rest = QStringView(text).sliced(at);
        qsizetype cut = 0;
        if (rest.startsWith(u"\r\n"))
            cut = 2;
        else if (!rest.isEmpty() && isBreak(rest.front()))
            cut = 1;
        if (n + 1 < spans.size()) {
            check(cut > 0); // every line but the last ends at a break
        } else {
            // After the last line comes nothing or one break: a final break ends the last
            // line and starts no empty one.
            check(rest.size() == cut);
        }
        rebuilt += rest.first(cut);
        at += cut;
    }
    check(rebuilt == text);

    const QStringList lines = varnel::testing::splitTextLines(text);
    check(size_t(lines.size()) == spans.size());
    for (size_t n = 0; n < spans.size(); ++n)
        check(lines[qsizetype(n)] == QStringView(text).sliced(spans[n].offset, spans[n].length));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = varnel::decodeTextFile(bytes);
    checkDecoding(bytes, text);
    checkPieces(bytes);
    checkCutting(bytes);
    checkSplitting(text);
    check(varnel::testing::textFileLines(bytes) == varnel::testing::splitTextLines(text));
    return 0;
}
