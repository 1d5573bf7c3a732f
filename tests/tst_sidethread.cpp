#include "core/sidethread.h"

#include <QTest>

#include <atomic>

#include <sched.h>

using namespace varnel;

class TestSideThread : public QObject {
    Q_OBJECT
private slots:
    void runsWithTheCreatorsCores_data();
    void runsWithTheCreatorsCores();
    void replacedThreadIsWaitedFor();
};

namespace {

cpu_set_t coresOfThisThread() {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    ::sched_getaffinity(0, sizeof cores, &cores);
    return cores;
}

// Restores the calling thread's cores when the test ends, however it ends.
class CoresKept {
public:
    CoresKept()
        : m_cores(coresOfThisThread()) {}
    ~CoresKept() { ::sched_setaffinity(0, sizeof m_cores, &m_cores); }

private:
    cpu_set_t m_cores;
};

} // namespace

void TestSideThread::runsWithTheCreatorsCores_data() {
    QTest::addColumn<bool>("pinned");
    // Started on another core, it may still use every one of its creator's afterwards.
    QTest::newRow("all cores") << false;
    // With no other core to start on, it starts where it is put.
    QTest::newRow("creator pinned to one core") << true;
}

void TestSideThread::runsWithTheCreatorsCores() {
    QFETCH(bool, pinned);
    const CoresKept kept;
    if (pinned) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(::sched_getcpu(), &one);
        QCOMPARE(::sched_setaffinity(0, sizeof one, &one), 0);
    }
    const cpu_set_t creators = coresOfThisThread();
    cpu_set_t seen;
    CPU_ZERO(&seen);
    bool ran = false;
    {
        SideThread thread([&] {
            seen = coresOfThisThread();
            ran = true;
        });
        QVERIFY(thread.joinable());
    }
    QVERIFY(ran);
    QVERIFY(CPU_EQUAL(&seen, &creators));
}

void TestSideThread::replacedThreadIsWaitedFor() {
    std::atomic<bool> release = false;
    std::atomic<bool> firstDone = false;
    SideThread thread([&] {
        while (!release.load())
            sched_yield();
        firstDone = true;
    });
    SideThread second([&] { release = true; });
    thread = std::move(second);
    QVERIFY(firstDone.load());
    QVERIFY(!second.joinable());
    // Moved on again, only the new owner joins it.
    SideThread third(std::move(thread));
    QVERIFY(!thread.joinable());
    QVERIFY(third.joinable());
    third.join();
    QVERIFY(!third.joinable());
}

QTEST_GUILESS_MAIN(TestSideThread)
#include "tst_sidethread.moc"
