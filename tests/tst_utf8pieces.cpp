#include "text/utf8pieces.h"

#include <QRandomGenerator>
#include <QTest>

#include <string>

using namespace varnel;

class TestUtf8Pieces : public QObject {
    Q_OBJECT
private slots:
    void latin1Pieces_data();
    void latin1Pieces();
    void latin1VectorsDecodeAsPlainly_data();
    void latin1VectorsDecodeAsPlainly();
};

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

QTEST_GUILESS_MAIN(TestUtf8Pieces)
#include "tst_utf8pieces.moc"
