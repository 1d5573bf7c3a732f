#include "core/memorypolicy.h"

#include <QTest>

#include <vector>

#include <sys/mman.h>
#include <unistd.h>

using namespace varnel;

class TestPagesAhead : public QObject {
    Q_OBJECT
private slots:
    void everyPageComes_data();
    void everyPageComes();
};

namespace {

// Fresh memory of its own, none of it touched yet.
class Fresh {
public:
    explicit Fresh(qint64 bytes)
        : m_bytes(bytes)
        , m_data(bytes > 0 ? ::mmap(nullptr, size_t(bytes), PROT_READ | PROT_WRITE,
                                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                           : nullptr) {}
    ~Fresh() {
        if (m_data && m_data != MAP_FAILED)
            ::munmap(m_data, size_t(m_bytes));
    }
    void* data() const { return m_data; }
    qint64 bytes() const { return m_bytes; }
    // How many of its pages are in memory.
    qint64 resident() const {
        if (!m_data)
            return 0;
        const long page = ::sysconf(_SC_PAGESIZE);
        std::vector<unsigned char> in(size_t((m_bytes + page - 1) / page));
        if (::mincore(m_data, size_t(m_bytes), in.data()) != 0)
            return -1;
        qint64 count = 0;
        for (const unsigned char c : in)
            count += c & 1;
        return count;
    }
    qint64 pages() const {
        return (m_bytes + ::sysconf(_SC_PAGESIZE) - 1) / ::sysconf(_SC_PAGESIZE);
    }

private:
    qint64 m_bytes;
    void* m_data;
};

} // namespace

void TestPagesAhead::everyPageComes_data() {
    QTest::addColumn<qint64>("first");
    QTest::addColumn<qint64>("second"); // 0: one buffer
    const qint64 MiB = 1 << 20;
    QTest::newRow("one buffer") << 20 * MiB << qint64(0);
    QTest::newRow("two buffers") << 20 * MiB << 9 * MiB + 4096;
    QTest::newRow("a small one asked for at once") << 20 * MiB << MiB;
    QTest::newRow("two small ones") << MiB << MiB;
}

// Left to run, it asks for every page of each buffer, whichever is ahead.
void TestPagesAhead::everyPageComes() {
    QFETCH(qint64, first);
    QFETCH(qint64, second);
    const Fresh a(first), b(second);
    QVERIFY(a.data() != MAP_FAILED && b.data() != MAP_FAILED);
    PagesAhead pages;
    pages.start(a.data(), a.bytes(), b.data(), b.bytes());
    QTRY_COMPARE_WITH_TIMEOUT(a.resident(), a.pages(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(b.resident(), b.pages(), 20000);
    pages.finish();
}

QTEST_GUILESS_MAIN(TestPagesAhead)
#include "tst_pagesahead.moc"
