#include "core/failure.h"
#include "lists/linestorage.h"

#include <QTest>

#include <sys/mman.h>

using namespace varnel;

namespace {

constexpr quint32 Long = StoredLine::LongLength;

// Address space for buffers that are never read: a 4 GiB buffer costs no memory.
class Reserved {
public:
    explicit Reserved(qsizetype size)
        : m_size(size)
        , m_data(::mmap(nullptr, size_t(size), PROT_NONE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0)) {}
    ~Reserved() {
        if (m_data != MAP_FAILED)
            ::munmap(m_data, size_t(m_size));
    }
    bool ok() const { return m_data != MAP_FAILED; }
    QByteArray buffer(qsizetype size) const {
        return QByteArray::fromRawData(static_cast<const char*>(m_data), size);
    }

private:
    qsizetype m_size;
    void* m_data;
};

} // namespace

class TestLineStorage : public QObject {
    Q_OBJECT
private slots:
    void spansKeepTheirText_data();
    void spansKeepTheirText();
    void aBufferBeyondFourGiB();
    void positionsRunOut();
    void sharedLinesFollowTheirBuffers();
};

void TestLineStorage::spansKeepTheirText_data() {
    QTest::addColumn<int>("before"); // characters of the buffer before the line
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("after"); // characters after it
    QTest::addColumn<bool>("wide");
    QTest::newRow("at the buffer's last character") << 5 << 1 << 0 << false;
    QTest::newRow("empty, after the buffer's last character") << 6 << 0 << 0 << false;
    QTest::newRow("empty, wide, after the last character") << 6 << 0 << 0 << true;
    QTest::newRow("one short of the packed limit, mid-buffer") << 3 << int(Long) - 1 << 2 << false;
    QTest::newRow("at the limit, to the end") << 3 << int(Long) << 0 << false;
    QTest::newRow("at the limit, mid-buffer") << 3 << int(Long) << 2 << false;
    QTest::newRow("past the limit, to the end") << 0 << int(Long) + 1 << 0 << false;
    QTest::newRow("past the limit, mid-buffer") << 1 << int(Long) + 1 << 1 << false;
    QTest::newRow("past the limit, wide, mid-buffer") << 1 << int(Long) + 1 << 1 << true;
}

void TestLineStorage::spansKeepTheirText() {
    QFETCH(int, before);
    QFETCH(int, length);
    QFETCH(int, after);
    QFETCH(bool, wide);
    // Each part of its own letter, so a line read a character off shows.
    QString text = QString(before, u'a') + QString(length, u'b') + QString(after, u'c');
    if (wide)
        text[text.size() - 1 - after] = u'ω';
    LineStorage storage;
    // Another buffer first, so the line's buffer does not begin at 0.
    storage.store(QStringLiteral("first"));
    const quint32 chunk = wide ? storage.addBuffer(text) : storage.addBuffer(text.toLatin1());
    // And one after it, which a line that ran on would reach into.
    storage.addBuffer(QByteArrayLiteral("zz"));
    const StoredLine line = storage.line(chunk, quint32(before), quint32(length));
    const QString expected = text.sliced(before, length);
    QCOMPARE(storage.text(line).toString(), expected);
    QCOMPARE(storage.length(line), qsizetype(length));
    QCOMPARE(storage.text(storage.store(expected)).toString(), expected);
}

void TestLineStorage::aBufferBeyondFourGiB() {
    const qsizetype huge = (qsizetype(1) << 32) - 1; // the largest buffer there is
    Reserved reserved(huge);
    QVERIFY(reserved.ok());
    LineStorage storage;
    storage.addBuffer(reserved.buffer(huge));
    storage.addBuffer(reserved.buffer(huge));
    const quint32 chunk = storage.addBuffer(QByteArrayLiteral("left\nright"));
    QVERIFY(storage.base(chunk) >= (quint64(1) << 33));
    const StoredLine line = storage.line(chunk, 5, 5);
    QCOMPARE(storage.text(line).toString(), QStringLiteral("right"));
    QCOMPARE(storage.bufferOf(line), chunk);
    // And a single line stored after it.
    const StoredLine single = storage.store(QStringLiteral("single"));
    QCOMPARE(storage.text(single).toString(), QStringLiteral("single"));
    QCOMPARE(storage.text(line).toString(), QStringLiteral("right"));
}

void TestLineStorage::positionsRunOut() {
    const qsizetype huge = (qsizetype(1) << 32) - 1;
    Reserved reserved(huge);
    QVERIFY(reserved.ok());
    LineStorage storage;
    // Each buffer takes its characters and one position more.
    const quint64 buffers = StoredLine::PositionLimit / quint64(huge + 1);
    for (quint64 i = 1; i < buffers; ++i)
        storage.addBuffer(reserved.buffer(huge));
    // Up to the last position but ten, and three characters more, fit.
    storage.addBuffer(reserved.buffer(huge - 10));
    const quint32 last = storage.addBuffer(QByteArrayLiteral("end"));
    QCOMPARE(storage.nextBase(), StoredLine::PositionLimit - 6);
    for (const QByteArray& more : {QByteArray(6, 'x'), reserved.buffer(huge)}) {
        try {
            storage.addBuffer(more);
            QFAIL("a buffer past the positions there are was taken");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number(), int(ErrorNumber::OutOfMemory));
        }
    }
    QCOMPARE(storage.bufferCount(), qsizetype(buffers + 1));
    QCOMPARE(storage.text(storage.line(last, 0, 3)).toString(), QStringLiteral("end"));
    QCOMPARE(storage.text(storage.line(last, 3, 0)).toString(), QString());
}

void TestLineStorage::sharedLinesFollowTheirBuffers() {
    LineStorage source;
    const StoredLine typed = source.store(QStringLiteral("typed"));
    const quint32 loaded = source.addBuffer(QByteArrayLiteral("one\ntwo"));
    const StoredLine two = source.line(loaded, 4, 3);
    LineStorage target;
    target.addBuffer(QStringLiteral("ωmega"));
    const StoredLine own = target.store(QStringLiteral("own"));
    const LineStorage::Sharing shared = target.shareAll(source);
    QCOMPARE(target.text(shared(typed)).toString(), QStringLiteral("typed"));
    QCOMPARE(target.text(shared(two)).toString(), QStringLiteral("two"));
    // Sharing again adds no buffer; the source's lines stay where they were.
    const qsizetype buffers = target.bufferCount();
    const LineStorage::Sharing again = target.shareAll(source);
    QCOMPARE(target.bufferCount(), buffers);
    QVERIFY(again(two) == shared(two));
    // The source typing on does not change what the target shares.
    source.store(QStringLiteral("more"));
    QCOMPARE(target.text(shared(typed)).toString(), QStringLiteral("typed"));
    // Letting go of a buffer leaves the others' lines in place.
    std::vector<bool> drop(size_t(target.bufferCount()), false);
    drop[0] = true;
    target.dropBuffers(drop);
    QCOMPARE(target.text(own).toString(), QStringLiteral("own"));
    QCOMPARE(target.text(shared(two)).toString(), QStringLiteral("two"));
    QCOMPARE(target.text(target.store(QStringLiteral("new"))).toString(), QStringLiteral("new"));
}

QTEST_GUILESS_MAIN(TestLineStorage)
#include "tst_linestorage.moc"
