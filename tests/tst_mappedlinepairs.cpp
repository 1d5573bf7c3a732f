#include "check/pairwalk.h"
#include "check/utf8linepairs.h"
#include "cli/checkcommand.h"
#include "cli/streams.h"
#include "core/failure.h"
#include "files/mappedfile.h"
#include "order/collationkeys.h"
#include "text/linestream.h"

#include <QCollator>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

using namespace varnel;

namespace {

// A pair as text, so that a mismatch shows which.
QByteArray described(bool repeat, qint64 lowerNumber, QByteArrayView upper, QByteArrayView lower) {
    return QByteArray::number(lowerNumber) + (repeat ? " = " : " > ") + upper.toByteArray() +
           " | " + lower.toByteArray();
}

// A file holding `bytes`, open for reading at `offset`.
class OpenFile {
public:
    OpenFile(const QByteArray& bytes, qint64 offset = 0) {
        if (!m_file.open() || m_file.write(bytes) != bytes.size() || !m_file.flush())
            qFatal("no file");
        m_fd = ::open(QFile::encodeName(m_file.fileName()).constData(), O_RDONLY);
        ::lseek(m_fd, off_t(offset), SEEK_SET);
    }
    ~OpenFile() { ::close(m_fd); }
    int fd() const { return m_fd; }
    QString name() const { return m_file.fileName(); }
    void cut(qint64 size) {
        if (::truncate(QFile::encodeName(name()).constData(), off_t(size)) != 0)
            qFatal("not cut");
    }

private:
    QTemporaryFile m_file;
    int m_fd = -1;
};

// What the stream and the check's pair test make of `bytes`; `utf8` when the stream read it
// all as UTF-8, the only text the whole-file way may take.
struct Streamed {
    bool utf8 = false;
    QList<QByteArray> pairs;
};

// In the code order without `collation`, in its order with it.
Streamed streamed(const QByteArray& bytes, bool repeats, const CollationKeys* collation) {
    const OpenFile file(bytes);
    LineStream stream(file.fd());
    Streamed got;
    StreamLine line;
    while (stream.next(line)) {
        if (stream.lineNumber() < 2)
            continue;
        const StreamLine& upper = stream.previous();
        const int order = collation ? collation->compareUtf8(upper.bytes, line.bytes)
                          : streamLinesSortAfter(stream, upper, line) ? 1
                          : streamLinesSortAfter(stream, line, upper) ? -1
                                                                      : 0;
        const bool after = order > 0;
        if (after || (repeats && order == 0))
            got.pairs.append(described(!after, stream.lineNumber(), upper.bytes, line.bytes));
    }
    got.utf8 = stream.encoding() == StreamEncoding::Utf8;
    return got;
}

// Lines of a list whose neighbours share long beginnings and part in the first word, in a
// later one or in a byte beyond ASCII, in either case.
QByteArray listLike() {
    const QList<QByteArray> pieces = {
        "a", "A", "b", "B", " ", "\xc3\xa9", "\xc3\x89", "\xc3\x9f", "\xe2\x84\xaa", "k"};
    QRandomGenerator random(7);
    QByteArray bytes;
    QByteArray line = "Anan Belcorel jr";
    for (int i = 0; i < 300; ++i) {
        // Keeps a beginning of the line before, of any length, and changes the rest.
        line.truncate(random.bounded(line.size() + 1));
        for (int n = random.bounded(12); n > 0; --n)
            line += pieces[random.bounded(pieces.size())];
        bytes += line + (random.bounded(8) == 0 ? "\r\n" : "\n");
    }
    return bytes;
}

// Keeps the pairs it takes; takes up to `mostAhead` before the whole text is known to be
// UTF-8, and forgets them when they do not stand.
class Taker : public LinePairTaker {
public:
    explicit Taker(qsizetype mostAhead)
        : m_mostAhead(mostAhead) {}
    void take(const LinePair& pair) override {
        pairs.append(described(pair.repeat, pair.lowerNumber, pair.upper, pair.lower));
    }
    bool takesAhead() const override { return pairs.size() < m_mostAhead; }
    void settle(bool stand) override {
        if (!stand)
            pairs.clear();
    }
    QList<QByteArray> pairs;

private:
    const qsizetype m_mostAhead;
};

// Whatever takes pairs first cuts the file: the shares after are read once it is cut.
class CuttingTaker : public LinePairTaker {
public:
    CuttingTaker(OpenFile& file, qint64 size)
        : m_file(file)
        , m_size(size) {}
    void take(const LinePair&) override {
        if (m_size >= 0)
            m_file.cut(std::exchange(m_size, -1));
    }

private:
    OpenFile& m_file;
    qint64 m_size;
};

// Runs `what` with standard output going to `out`; gives back what went to standard error.
template <typename What> QByteArray complaints(int out, What&& what) {
    QTemporaryFile error;
    if (!error.open())
        qFatal("no file");
    const int keptOut = ::dup(STDOUT_FILENO);
    const int keptError = ::dup(STDERR_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(error.handle(), STDERR_FILENO);
    what();
    ::dup2(keptOut, STDOUT_FILENO);
    ::dup2(keptError, STDERR_FILENO);
    ::close(keptOut);
    ::close(keptError);
    error.seek(0);
    return error.readAll();
}

} // namespace

class TestMappedLinePairs : public QObject {
    Q_OBJECT
private slots:
    void sameAsTheStream_data();
    void sameAsTheStream();
    void mapsWhatIsLeft_data();
    void mapsWhatIsLeft();
    void aPipeIsNotMapped();
    void aFileCutShortFails_data();
    void aFileCutShortFails();
    void aCheckOfAFileCutShortWritesOnlyItsFindings();
};

void TestMappedLinePairs::sameAsTheStream_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("ASCII out of order and repeated")
        << QByteArray("apple\nBanana\nbanana\ncherry\nApple\nzebra\nyak\nyak\n");
    QTest::newRow("CR LF, lone CR, LF CR") << QByteArray("b\r\na\r\rc\r\n\r\nB\rb\n\ra\r\n");
    QTest::newRow("no final break") << QByteArray("b\na\nc\nB");
    QTest::newRow("ends in a CR") << QByteArray("z\ny\r");
    QTest::newRow("empty lines") << QByteArray("\n\n\nb\n\na\n\n");
    QTest::newRow("breaks only") << QByteArray("\n\r\n\r\n\n");
    // Beyond ASCII: letters lowered to another length (the Kelvin sign) or plane.
    QTest::newRow("beyond ASCII") << QByteArray(
        "\xc3\xa9\nE\n\xc3\x89\n\xc3\x9f\nss\nK\n\xe2\x84\xaa\nk\n"
        "\xf0\x90\x90\x80\n\xf0\x90\x90\xa8\n\xef\xbf\xbd\n");
    QTest::newRow("long lines sharing their start")
        << QByteArray("the same long beginning, then b\nTHE SAME LONG BEGINNING, THEN A\n"
                      "the same long beginning, then \xc3\xa9\nthe same long beginning, then a\n");
    QTest::newRow("one line the beginning of the next")
        << QByteArray("the same start\nthe same start, longer\nthe same start\nTHE SAME START\n"
                      "the same start\xc3\xa9\nthe same start\n");
    QTest::newRow("list-like") << listLike();
    // The stream decides these by rules of their own.
    QTest::newRow("UTF-8 mark") << QByteArray("\xef\xbb\xbf"
                                              "b\na\n");
    QTest::newRow("UTF-16 mark") << QByteArray("\xff\xfe"
                                               "b\0\n\0a\0\n\0",
                                               10);
    QTest::newRow("bad byte late") << QByteArray("b\na\nc\nd\xff\n");
    QTest::newRow("bad byte early") << QByteArray("\xff\nb\na\nc\nd\n");
    QTest::newRow("cut short at the end") << QByteArray("b\na\nc\n\xc3");
    QTest::newRow("surrogate") << QByteArray("b\na\n\xed\xa0\x80\n");
}

void TestMappedLinePairs::sameAsTheStream() {
    // However the text is shared out (from a share a line to one share), whatever the
    // stretches checked ahead and the pairs kept before the rest is cut again, the pairs are
    // the stream's, or nothing is taken.
    QFETCH(QByteArray, bytes);
    PairWalk walk;
    QCollator english{QLocale(QLocale::English, QLocale::UnitedStates)};
    english.setCaseSensitivity(Qt::CaseInsensitive);
    const CollationKeys locale(english);
    QVERIFY(locale.collates());
    for (const auto& [repeats, collation] : {std::pair<bool, const CollationKeys*>{false, nullptr},
                                             {true, nullptr},
                                             {false, &locale},
                                             {true, &locale}}) {
        const Streamed expected = streamed(bytes, repeats, collation);
        const qsizetype step = 1 + bytes.size() / 200;
        for (qsizetype shareSize = 1; shareSize <= bytes.size() + 1; shareSize += step) {
            for (const qsizetype checkedAhead : {1, 3, 1 << 17}) {
                for (const auto& [mostKept, mostAhead] : {std::pair{1, 1 << 30}, {1 << 16, 3}}) {
                    const LinePairTuning tuning{0, 2, shareSize, checkedAhead, mostKept};
                    Taker taker(mostAhead);
                    const bool taken =
                        collation
                            ? findUtf8LinePairs(walk, bytes, *collation, repeats, taker, tuning)
                            : findUtf8LinePairs(walk, bytes, repeats, taker, tuning);
                    const QList<QByteArray>& pairs = taker.pairs;
                    const QByteArray where =
                        QByteArray("shares of ") + QByteArray::number(shareSize) + ", checked " +
                        QByteArray::number(checkedAhead) + ", kept " +
                        QByteArray::number(mostKept) + ", ahead " + QByteArray::number(mostAhead);
                    QVERIFY2(taken == expected.utf8, where.constData());
                    if (!taken)
                        QVERIFY2(pairs.isEmpty(), where.constData());
                    else
                        QCOMPARE(pairs, expected.pairs);
                }
            }
        }
    }
}

void TestMappedLinePairs::mapsWhatIsLeft_data() {
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<qint64>("offset");
    QTest::newRow("from the start") << qsizetype(10) << qint64(0);
    QTest::newRow("after a few bytes read") << qsizetype(10) << qint64(3);
    QTest::newRow("from a page") << qsizetype(8192) << qint64(4096);
    QTest::newRow("past a page") << qsizetype(9000) << qint64(4097);
    QTest::newRow("nothing left") << qsizetype(10) << qint64(10);
}

void TestMappedLinePairs::mapsWhatIsLeft() {
    // The bytes from where the descriptor stands; it stays there until they are consumed,
    // so that the stream can still read them when the whole-file way turns them down.
    QFETCH(qsizetype, size);
    QFETCH(qint64, offset);
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char('a' + i % 26);
    const OpenFile file(bytes, offset);
    MappedFile mapped(file.fd());
    QCOMPARE(mapped.isMapped(), offset < size);
    QCOMPARE(mapped.bytes(), QByteArrayView(bytes).sliced(offset));
    QCOMPARE(::lseek(file.fd(), 0, SEEK_CUR), off_t(offset));
    mapped.consume();
    QCOMPARE(::lseek(file.fd(), 0, SEEK_CUR), off_t(mapped.isMapped() ? size : offset));
}

void TestMappedLinePairs::aPipeIsNotMapped() {
    int ends[2];
    QVERIFY(::pipe(ends) == 0);
    QVERIFY(::write(ends[1], "a\n", 2) == 2);
    QVERIFY(!MappedFile(ends[0]).isMapped());
    ::close(ends[0]);
    ::close(ends[1]);
}

void TestMappedLinePairs::aFileCutShortFails_data() {
    QTest::addColumn<qint64>("cutTo"); // -1: not cut
    QTest::addColumn<bool>("whileGiven");
    QTest::addColumn<bool>("grownBack"); // to its size, before it is asked
    QTest::addColumn<bool>("fails");
    // 12 KiB: three pages of 4 KiB.
    QTest::newRow("not cut") << qint64(-1) << false << false << false;
    QTest::newRow("grown") << qint64(20000) << false << false << false;
    QTest::newRow("to nothing") << qint64(0) << false << false << true;
    QTest::newRow("at a page") << qint64(4096) << false << false << true;
    // The last page stays mapped, its tail zeros, and nothing faults.
    QTest::newRow("within the last page") << qint64(12287) << false << false << true;
    QTest::newRow("while the pairs are given") << qint64(100) << true << false << true;
    // Only the fault tells: the size is as it was.
    QTest::newRow("and grown back") << qint64(100) << true << true << true;
}

void TestMappedLinePairs::aFileCutShortFails() {
    // The program does not die of the bytes past the end, and the file is known changed.
    QFETCH(qint64, cutTo);
    QFETCH(bool, whileGiven);
    QFETCH(bool, grownBack);
    QFETCH(bool, fails);
    QByteArray bytes;
    for (int i = 0; bytes.size() < 12288; ++i)
        bytes += QByteArray::number(9999999 - i) + '\n';
    OpenFile file(bytes);
    MappedFile mapped(file.fd());
    QVERIFY(mapped.isMapped());
    if (cutTo >= 0 && !whileGiven)
        file.cut(cutTo);
    CuttingTaker taker(file, whileGiven ? cutTo : -1);
    const LinePairTuning tuning{0, 2, 1000, 1 << 17, 1 << 20};
    PairWalk walk;
    QVERIFY(findUtf8LinePairs(walk, mapped.bytes(), false, taker, tuning));
    if (grownBack)
        file.cut(bytes.size());
    try {
        mapped.verify();
        QVERIFY(!fails);
    } catch (const Failure& failure) {
        QVERIFY(fails);
        QCOMPARE(failure.description(), QString::fromLocal8Bit(std::strerror(EIO)));
    }
}

void TestMappedLinePairs::aCheckOfAFileCutShortWritesOnlyItsFindings() {
    // More findings than the check holds before it writes the first: those it makes after
    // they are read, from zeros, must not follow.
    QByteArray bytes;
    const QByteArray filler(1000, 'x');
    for (int i = 0; bytes.size() < (12 << 20); ++i)
        bytes += QByteArray::number(1000000 - i) + filler + '\n';
    OpenFile file(bytes);
    const QStringList names{file.name()};
    QTemporaryFile whole;
    QVERIFY(whole.open());
    QVERIFY(complaints(whole.handle(), [&] {
                QCOMPARE(cli::runCheck(names, {}), cli::OutOfOrder);
            }).isEmpty());
    whole.seek(0);
    const QByteArray findings = whole.readAll();

    // What reads the findings cuts the file once the first come.
    int ends[2];
    QVERIFY(::pipe(ends) == 0);
    QByteArray written;
    std::thread reader([&] {
        char block[1 << 16];
        for (ssize_t got; (got = ::read(ends[0], block, sizeof block)) > 0;) {
            if (written.isEmpty())
                file.cut(bytes.size() / 2);
            written.append(block, got);
        }
    });
    const QByteArray complaint =
        complaints(ends[1], [&] { QCOMPARE(cli::runCheck(names, {}), cli::Trouble); });
    ::close(ends[1]);
    reader.join();
    ::close(ends[0]);
    QCOMPARE(complaint,
             "varnel: " + QFile::encodeName(file.name()) + ": changed while it was read\n");
    QVERIFY(written.size() < findings.size());
    QVERIFY(findings.startsWith(written));
    QVERIFY(written.isEmpty() || written.endsWith('\n'));
}

QTEST_GUILESS_MAIN(TestMappedLinePairs)
#include "tst_mappedlinepairs.moc"
