#include "tests/support/textreaders.h"
#include "text/utf8pieces.h"

#include <QRandomGenerator>
#include <QTest>

#include <string>

using namespace varnel;
using namespace varnel::testing;

class TestUtf8Pieces : public QObject {
    Q_OBJECT
private slots:
    void latin1Pieces_data();
    void latin1Pieces();
    void latin1VectorsDecodeAsPlainly_data();
    void latin1VectorsDecodeAsPlainly();
    void latin1LinesInPieces_data();
    void latin1LinesInPieces();
    void latin1LinesAsDecodedThenCut_data();
    void latin1LinesAsDecodedThenCut();
};

namespace {

// What decodeUtf8Latin1Lines made of `bytes` handed in as the reader does, a piece ending at
// each of `cuts` and at the end, the bytes it left over starting the next: the text, the
// lines the breaks ended, where the open line starts, and the bytes taken.
struct CutText {
    std::string text;
    LinePlaces lines;
    LineCuts open;
    qsizetype read = 0;
    bool wellFormed = true;
};

CutText cutInPieces(const QByteArray& bytes, QList<qsizetype> cuts) {
    CutText got;
    got.text.resize(size_t(bytes.size()));
    qsizetype written = 0;
    cuts.append(bytes.size());
    for (const qsizetype cut : cuts) {
        const Utf8Piece done =
            decodeUtf8Latin1Lines(bytes.data() + got.read, cut - got.read,
                                  got.text.data() + written, written, got.open, got.lines);
        got.read += done.read;
        written += done.written;
        got.wellFormed = done.wellFormed;
        if (!done.wellFormed)
            break;
    }
    got.text.resize(size_t(written));
    return got;
}

std::vector<LineSpan> spansOf(const LinePlaces& lines) {
    std::vector<LineSpan> spans;
    for (size_t row = 0; row < lines.size(); ++row)
        spans.push_back(lines[row]);
    return spans;
}

QStringList linesOf(const std::string& text, const LinePlaces& lines) {
    QStringList all;
    for (const LineSpan& line : spansOf(lines))
        all.append(QLatin1StringView(text.data() + line.offset, line.length));
    return all;
}

} // namespace

void TestUtf8Pieces::latin1Pieces_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("read");
    QTest::addColumn<QByteArray>("latin1");
    QTest::addColumn<bool>("wellFormed");
    const QByteArray sixteen = "abcdefghijklmnop";
    const QByteArray e = "\xC3\xA9";
    QTest::newRow("short, cut after a lead")
        << QByteArray("caf\xC3") << 3 << QByteArray("caf") << true;
    QTest::newRow("long, cut after a lead") << sixteen + "\xC3" << 16 << sixteen << true;
    QTest::newRow("a lead as the sixteenth byte") << QByteArray("abcdefghijklmno\xC3\xA9xyz") << 20
                                                  << QByteArray("abcdefghijklmno\xE9xyz") << true;
    QTest::newRow("letters of C2 and C3")
        << e.repeated(10) + "\xC2\xA0" + sixteen << 38
        << QByteArray("\xE9").repeated(10) + "\xA0" + sixteen << true;
    QTest::newRow("a wider letter stops it")
        << sixteen + e + "\xC4\x80" + sixteen << 18 << sixteen + "\xE9" << false;
    QTest::newRow("a continuation alone stops it")
        << e + sixteen + "\xA9" + sixteen << 18 << "\xE9" + sixteen << false;
}

void TestUtf8Pieces::latin1Pieces() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, read);
    QFETCH(QByteArray, latin1);
    QFETCH(bool, wellFormed);
    for (const Utf8Way way : {Utf8Way::Fastest, Utf8Way::Plain}) {
        QByteArray out(bytes.size(), '\0');
        const Utf8Piece done = decodeUtf8Latin1Piece(bytes.data(), bytes.size(), out.data(), way);
        QCOMPARE(done.read, qsizetype(read));
        QCOMPARE(out.first(done.written), latin1);
        QCOMPARE(done.wellFormed, wellFormed);
    }
}

void TestUtf8Pieces::latin1VectorsDecodeAsPlainly_data() {
    // Random texts of these pieces, of every length around the sixteen bytes the vectors
    // take, so that sequences fall across their edges and the last piece is left over.
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::newRow("ASCII and two-byte letters") << QList<QByteArray>{
        "a", "Z", " ", "\n", "\r", "\xC3\xA9", "\xC3\x80", "\xC2\xA0", "\xC3\xBF", "\xC2\x80"};
    QTest::newRow("leads and continuations alone")
        << QList<QByteArray>{"a", "\xC3\xA9", "\xC3", "\xC2", "\xA9", "\x80", "\xBF"};
    QTest::newRow("wider and ill-formed sequences")
        << QList<QByteArray>{"abcdefgh",         "\xC3\xA9", "\xC4\x80", "\xC1\xBF", "\xE2\x82\xAC",
                             "\xF0\x9F\x98\x80", "\xFF",     "\xC0\x80", "\xDF\xBF"};
    QTest::newRow("mostly ASCII") << QList<QByteArray>{"abcdefghijklmnop", "qrstuvwxyz012345",
                                                       "\xC3\xA9", "\xC3"};
}

void TestUtf8Pieces::latin1VectorsDecodeAsPlainly() {
    QFETCH(QList<QByteArray>, pieces);
    QRandomGenerator random{quint32(qHash(QByteArray(QTest::currentDataTag())))};
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes;
        for (int n = random.bounded(40); n > 0; --n)
            bytes += pieces[random.bounded(pieces.size())];
        std::string fast(size_t(bytes.size()), '\0');
        std::string plain(size_t(bytes.size()), '\0');
        const Utf8Piece a = decodeUtf8Latin1Piece(bytes.data(), bytes.size(), fast.data());
        const Utf8Piece b =
            decodeUtf8Latin1Piece(bytes.data(), bytes.size(), plain.data(), Utf8Way::Plain);
        const auto shown = [&] { return qPrintable(QString::fromLatin1(bytes.toHex(' '))); };
        QVERIFY2(a.read == b.read && a.written == b.written && a.wellFormed == b.wellFormed,
                 shown());
        QVERIFY2(fast.compare(0, size_t(a.written), plain, 0, size_t(b.written)) == 0, shown());
    }
}

void TestUtf8Pieces::latin1LinesInPieces_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<qsizetype>>("cuts"); // where pieces end, besides the end
    QTest::addColumn<QStringList>("lines");     // those ended by a break
    QTest::addColumn<QString>("open");          // the text of the line after the last break
    QTest::addColumn<int>("read");
    QTest::addColumn<bool>("wellFormed");
    const QByteArray ascii63(63, 'a');
    const QByteArray ascii64(64, 'a');
    QTest::newRow("breaks of every kind")
        << QByteArray("a\nb\r\nc\rd\n\n\r\re") << QList<qsizetype>{}
        << QStringList{"a", "b", "c", "d", "", "", ""} << "e" << 13 << true;
    QTest::newRow("CR LF across pieces") << QByteArray("a\r\nb\r") << QList<qsizetype>{2}
                                         << QStringList{"a", "b"} << "" << 5 << true;
    QTest::newRow("CR ending a piece, a line after it")
        << QByteArray("a\rb\n") << QList<qsizetype>{2} << QStringList{"a", "b"} << "" << 4 << true;
    QTest::newRow("letters of C2 and C3 between breaks")
        << QByteArray("d\xC3\xA9j\xC3\xA0\n\xC2\xA0\xC3\xBF\xC3\x80") << QList<qsizetype>{}
        << QStringList{"d\u00E9j\u00E0"} << "\u00A0\u00FF\u00C0" << 13 << true;
    QTest::newRow("a lead as the sixty-fourth byte")
        << ascii63 + "\xC3\xA9\nz" << QList<qsizetype>{} << QStringList{ascii63 + "\u00E9"} << "z"
        << 67 << true;
    QTest::newRow("a lead cut by a piece's end")
        << QByteArray("ab\xC3\xA9\n") << QList<qsizetype>{3} << QStringList{"ab\u00E9"} << "" << 5
        << true;
    QTest::newRow("a lead cut by the end")
        << QByteArray("a\nb\xC3") << QList<qsizetype>{} << QStringList{"a"} << "b" << 3 << true;
    QTest::newRow("a wider letter stops it before its block")
        << ascii64 + "\n\xE2\x82\xAC" << QList<qsizetype>{} << QStringList{} << QString(ascii64)
        << 64 << false;
    QTest::newRow("a continuation alone stops it")
        << QByteArray("a\nb\xA9\n") << QList<qsizetype>{} << QStringList{} << "" << 0 << false;
    QTest::newRow("a lead without its continuation stops it")
        << QByteArray("a\nb\xC3\n") << QList<qsizetype>{} << QStringList{} << "" << 0 << false;
}

void TestUtf8Pieces::latin1LinesInPieces() {
    QFETCH(QByteArray, bytes);
    QFETCH(QList<qsizetype>, cuts);
    QFETCH(QStringList, lines);
    QFETCH(QString, open);
    QFETCH(int, read);
    QFETCH(bool, wellFormed);
    if (!haveLatin1LineVectors())
        QSKIP("This processor cuts lines the plain way only.");
    const CutText got = cutInPieces(bytes, cuts);
    QCOMPARE(linesOf(got.text, got.lines), lines);
    QCOMPARE(QString::fromLatin1(got.text.substr(size_t(got.open.start))), open);
    QCOMPARE(got.read, qsizetype(read));
    QCOMPARE(got.wellFormed, wellFormed);
}

void TestUtf8Pieces::latin1LinesAsDecodedThenCut_data() {
    // Random texts of these pieces in random pieces of up to three blocks, so that
    // sequences, CR LF and blocks fall across the ends of both.
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::newRow("letters and breaks")
        << QList<QByteArray>{"a",        "Z",        "abcdefghijklmnopqrstu",
                             "\n",       "\r",       "\r\n",
                             "\xC3\xA9", "\xC3\x80", "\xC2\xA0",
                             "\xC3\xBF", "\xC2\x80"};
    QTest::newRow("mostly breaks") << QList<QByteArray>{"\n", "\r", "\r\n", "x", "\xC3\xA9"};
    QTest::newRow("wider and ill-formed sequences")
        << QList<QByteArray>{"abcdefgh",     "\n",   "\xC3\xA9", "\xC4\x80",        "\xC1\xBF",
                             "\xE2\x82\xAC", "\xA9", "\xC3",     "\xF0\x9F\x98\x80"};
}

// The lines cut as it decodes are those of the text decodeUtf8Latin1Piece makes of what
// it took, cut by the line rule; that text less its breaks is what it wrote.
void TestUtf8Pieces::latin1LinesAsDecodedThenCut() {
    QFETCH(QList<QByteArray>, pieces);
    if (!haveLatin1LineVectors())
        QSKIP("This processor cuts lines the plain way only.");
    QRandomGenerator random{quint32(qHash(QByteArray(QTest::currentDataTag())))};
    for (int round = 0; round < 5000; ++round) {
        QByteArray bytes;
        for (int n = random.bounded(80); n > 0; --n)
            bytes += pieces[random.bounded(pieces.size())];
        QList<qsizetype> cuts;
        for (qsizetype at = random.bounded(192); at < bytes.size(); at += random.bounded(192))
            cuts.append(at);
        const CutText got = cutInPieces(bytes, cuts);
        std::string whole(size_t(bytes.size()), '\0');
        const Utf8Piece plain =
            decodeUtf8Latin1Piece(bytes.data(), bytes.size(), whole.data(), Utf8Way::Plain);
        const auto shown = [&] { return qPrintable(QString::fromLatin1(bytes.toHex(' '))); };
        // It stops only where decoding the plain way does, or at the start of that block.
        QVERIFY2(plain.wellFormed ? got.read == plain.read
                                  : got.read <= plain.read && plain.read - got.read < 64,
                 shown());
        std::string taken(size_t(bytes.size()), '\0');
        const Utf8Piece decoded = decodeUtf8Latin1Piece(bytes.data(), got.read, taken.data());
        QVERIFY2(decoded.wellFormed && decoded.read == got.read, shown());
        taken.resize(size_t(decoded.written));
        // A character after the text ends its open line where the line rule would.
        const QString ended = QString::fromLatin1(taken) + u'x';
        QStringList expected = splitTextLines(ended);
        const QString open = expected.takeLast().chopped(1);
        QVERIFY2(linesOf(got.text, got.lines) == expected, shown());
        QVERIFY2(QString::fromLatin1(got.text.substr(size_t(got.open.start))) == open, shown());
        QVERIFY2(got.open.afterCr == taken.ends_with('\r'), shown());
        // Each line follows the one before, nothing between.
        qsizetype at = 0;
        for (const LineSpan& line : spansOf(got.lines)) {
            QVERIFY2(line.offset == at, shown());
            at += line.length;
        }
        QVERIFY2(got.open.start == at, shown());
    }
}

QTEST_GUILESS_MAIN(TestUtf8Pieces)
#include "tst_utf8pieces.moc"
