#include "commands/windowstate.h"
#include "core/eventpump.h"

#include <QDeadlineTimer>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <stdexcept>
#include <thread>

using namespace varnel;
using namespace std::chrono;

namespace {

// The pump's clock, moved by the test.
EventPump::Clock::time_point fakeTime;
EventPump::Clock::time_point fakeNow() {
    return fakeTime;
}

} // namespace

class TestWindowState : public QObject {
    Q_OBJECT
private slots:
    void applicationTitle_data();
    void applicationTitle();
    void pumpTurns_data();
    void pumpTurns();
    void quietAsksTurnAsAskingEach_data() { pumpTurns_data(); }
    void quietAsksTurnAsAskingEach();
    void runAside_data();
    void runAside();
};

void TestWindowState::applicationTitle_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("title");
    const QString a30(30, u'a');
    const QString a40(40, u'a');
    QTest::newRow("the program's caption") << "Varnel Software"
                                           << "Varnel";
    QTest::newRow("only the last word goes") << "Varnel List Checker"
                                             << "Varnel List";
    QTest::newRow("a final blank goes alone") << "Varnel "
                                              << "Varnel";
    QTest::newRow("no blank leaves nothing") << "Varnel"
                                             << "";
    QTest::newRow("forty characters are kept") << a40 + " z" << a40;
    QTest::newRow("cut again while longer than forty")
        << a30 + ' ' + QString(10, u'b') + ' ' + QString(10, u'c') << a30;
    QTest::newRow("too long and no blank left") << a40 + "a z"
                                                << "";
}

void TestWindowState::applicationTitle() {
    QFETCH(QString, caption);
    QFETCH(QString, title);
    QCOMPARE(applicationTitleFromCaption(caption), title);
}

void TestWindowState::pumpTurns_data() {
    QTest::addColumn<int>("interval"); // microseconds
    QTest::addColumn<int>("ask");      // the work between two asks, in microseconds
    QTest::addColumn<int>("asks");
    QTest::newRow("quick asks within one interval") << 10000 << 1 << 5000;
    QTest::newRow("quick asks over many intervals") << 10000 << 1 << 1000000;
    QTest::newRow("slow asks") << 10000 << 3000 << 400;
    QTest::newRow("asks slower than the interval") << 1000 << 5000 << 100;
    QTest::newRow("no interval: every ask turns") << 0 << 0 << 100;
}

void TestWindowState::pumpTurns() {
    QFETCH(int, interval);
    QFETCH(int, ask);
    QFETCH(int, asks);
    EventPump pump(microseconds(interval), &fakeNow);
    for (int i = 0; i < asks; ++i) {
        fakeTime += microseconds(ask);
        pump.yield();
    }
    const long long work = qint64(ask) * asks;
    if (interval == 0) {
        QCOMPARE(pump.turns(), asks);
        return;
    }
    // At most one turn an interval, and at least one for each interval of work: late by
    // no more than the ask that passes it, or a quarter interval.
    QVERIFY2(pump.turns() <= work / interval, qPrintable(QString::number(pump.turns())));
    QVERIFY2(pump.turns() >= work / (interval + std::max(ask, interval / 4)),
             qPrintable(QString::number(pump.turns())));
}

// Work that passes over the asks the pump calls quiet, and counts them, turns the event loop
// at the very asks that asking each would.
void TestWindowState::quietAsksTurnAsAskingEach() {
    QFETCH(int, interval);
    QFETCH(int, ask);
    QFETCH(int, asks);
    const auto turnsAt = [&](bool skipping) {
        fakeTime = {};
        EventPump pump(microseconds(interval), &fakeNow);
        QList<int> at;
        for (int i = 0; i < asks; ++i) {
            const int skip = skipping ? std::min(int(pump.quietAsks()), asks - i - 1) : 0;
            pump.skipAsks(unsigned(skip));
            i += skip;
            fakeTime += microseconds(ask) * (skip + 1);
            const long long before = pump.turns();
            pump.yield();
            if (pump.turns() != before)
                at.append(i);
        }
        return at;
    };
    QCOMPARE(turnsAt(true), turnsAt(false));
}

void TestWindowState::runAside_data() {
    QTest::addColumn<bool>("throws");
    QTest::newRow("the loop turns while the work runs") << false;
    QTest::newRow("what the work throws comes through") << true;
}

void TestWindowState::runAside() {
    QFETCH(bool, throws);
    EventPump pump;
    std::atomic<bool> turned = false;
    QTimer::singleShot(0, [&turned] { turned = true; });
    bool sawTurn = false;
    bool thrown = false;
    try {
        pump.runAside([&] {
            // Only a turn of the waiting thread's loop fires the timer.
            const QDeadlineTimer deadline(10000);
            while (!turned && !deadline.hasExpired())
                std::this_thread::yield();
            sawTurn = turned;
            if (throws)
                throw std::runtime_error("failed");
        });
    } catch (const std::runtime_error&) {
        thrown = true;
    }
    QVERIFY(sawTurn);
    QCOMPARE(thrown, throws);
}

QTEST_GUILESS_MAIN(TestWindowState)
#include "tst_windowstate.moc"
