#include "check/listpairwalk.h"
#include "check/pairwalk.h"
#include "lists/linelistmodel.h"
#include "order/linesortsafter.h"

#include <QRandomGenerator>
#include <QTest>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace varnel;

class TestPairWalk : public QObject {
    Q_OBJECT
private slots:
    void pieces_data();
    void pieces();
    void runs_data();
    void runs();
    void aStopEndsTheRun();
};

namespace {

constexpr qsizetype Piece = ListPairWalk::PieceLength;
constexpr qsizetype FirstRun = 4 * Piece;

// Mostly in order, each pair out of order at random, in both of the list's forms, each line
// `length` characters long.
QStringList lines(qsizetype count, int length = 0) {
    QRandomGenerator random(5);
    QStringList lines;
    for (qsizetype i = 0; i < count; ++i) {
        const QString text = QStringLiteral("Item %1").arg(i / 3 + random.bounded(2), 6);
        lines.append((random.bounded(7) == 0 ? text + QStringLiteral("Ω") : text)
                         .rightJustified(length, u'a'));
    }
    return lines;
}

QList<qsizetype> outOfOrder(const LineListModel& list, qsizetype from) {
    QList<qsizetype> positions;
    for (qsizetype p = from + 1; p <= list.count(); ++p) {
        if (lineSortsAfter(list.textView(p - 1), list.textView(p)))
            positions.append(p);
    }
    return positions;
}

} // namespace

void TestPairWalk::pieces_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("stopAt");     // the piece whose walk says stop; -1: none
    QTest::addColumn<int>("throwAt");    // the piece whose walk throws; -1: none
    QTest::addColumn<int>("takenAhead"); // the pieces the taker takes ahead, at most
    QTest::newRow("one piece") << 1 << -1 << -1 << 1;
    QTest::newRow("all taken ahead") << 40 << -1 << -1 << 40;
    QTest::newRow("a few taken ahead") << 40 << -1 << -1 << 3;
    QTest::newRow("none taken ahead") << 40 << -1 << -1 << 0;
    QTest::newRow("a stop") << 40 << 17 << -1 << 40;
    QTest::newRow("a stop at the first") << 40 << 0 << -1 << 40;
    QTest::newRow("a throw") << 40 << -1 << 25 << 40;
    QTest::newRow("a throw at the last") << 40 << -1 << 39 << 40;
}

// Every piece is walked once at most, on either thread, and all before a stop are; those
// taken ahead are the first ones, in order, each once it was walked, and none after a stop;
// what a piece throws comes back from the walk.
void TestPairWalk::pieces() {
    QFETCH(int, count);
    QFETCH(int, stopAt);
    QFETCH(int, throwAt);
    QFETCH(int, takenAhead);
    const int end = stopAt >= 0 ? stopAt : throwAt >= 0 ? throwAt : count;
    PairWalk walk;
    std::atomic<bool> bothThreads = false;
    for (int round = 0; round < 20; ++round) {
        std::vector<std::atomic<int>> walked(static_cast<size_t>(count));
        const std::thread::id caller = std::this_thread::get_id();
        QList<int> ahead;
        bool aheadUnwalked = false;
        const PairWalk::Outcome outcome = walk.walk(
            count,
            [&](qsizetype k) {
                // Slow enough for the thread aside to take some.
                std::this_thread::sleep_for(std::chrono::microseconds(50));
                walked[size_t(k)].fetch_add(1);
                if (std::this_thread::get_id() != caller)
                    bothThreads = true;
                if (k == throwAt)
                    throw std::runtime_error("piece");
                return k != stopAt;
            },
            [&](qsizetype k) {
                if (ahead.size() >= takenAhead)
                    return false;
                aheadUnwalked = aheadUnwalked || walked[size_t(k)].load() != 1 || k >= end;
                ahead.append(int(k));
                return true;
            });
        for (int k = 0; k < count; ++k) {
            QVERIFY(walked[size_t(k)].load() <= 1);
            if (k <= end && k < count)
                QCOMPARE(walked[size_t(k)].load(), 1);
        }
        QVERIFY(!aheadUnwalked);
        QCOMPARE(outcome.given, qsizetype(ahead.size()));
        for (int k = 0; k < ahead.size(); ++k)
            QCOMPARE(ahead[k], k);
        if (end == count)
            QCOMPARE(outcome.given, qsizetype(std::min(takenAhead, count)));
        QCOMPARE(outcome.stopped, end < count);
        QCOMPARE(bool(outcome.failure), throwAt >= 0);
    }
    // With nothing to stop them, the thread aside takes its share; sleeping, the caller
    // gives it room even on one core.
    if (end == count)
        QCOMPARE(bool(bothThreads), count > 1);
}

void TestPairWalk::runs_data() {
    QTest::addColumn<bool>("shared");
    QTest::addColumn<qsizetype>("count");
    QTest::addColumn<int>("length");
    QTest::addColumn<qsizetype>("from");
    QTest::addColumn<int>("runMicros");
    QTest::addColumn<qsizetype>("firstReach"); // 0: wherever time allows, short of its end
    const int ample = 60'000'000;
    QTest::newRow("alone, quiet runs")
        << false << qsizetype(1000) << 0 << qsizetype(1) << ample << qsizetype(1 + 100);
    QTest::newRow("one pair") << true << qsizetype(2) << 0 << qsizetype(1) << ample << qsizetype(2);
    QTest::newRow("less than a piece")
        << true << qsizetype(80) << 0 << qsizetype(10) << ample << qsizetype(80);
    QTest::newRow("one piece") << true << 1 + Piece << 0 << qsizetype(1) << ample << 1 + Piece;
    QTest::newRow("one pair past a piece")
        << true << 4 + Piece << 0 << qsizetype(3) << ample << 4 + Piece;
    QTest::newRow("many pieces, many runs")
        << true << qsizetype(20000) << 0 << qsizetype(100) << ample << 100 + FirstRun;
    // Out of time, a run ends early, but never before its first pair.
    QTest::newRow("out of time, short lines: a piece a thread")
        << true << FirstRun << 10 << qsizetype(1) << 0 << qsizetype(0);
    QTest::newRow("out of time, long lines: within a piece")
        << true << qsizetype(40) << 70000 << qsizetype(1) << 0 << qsizetype(2);
    QTest::newRow("out of time, one pair")
        << true << qsizetype(2) << 70000 << qsizetype(1) << 0 << qsizetype(2);
}

// Run after run from `from` to the end, the walk finds each pair out of order once, in order,
// whichever thread tested it and however its runs were cut.
void TestPairWalk::runs() {
    QFETCH(bool, shared);
    QFETCH(qsizetype, count);
    QFETCH(int, length);
    QFETCH(qsizetype, from);
    QFETCH(int, runMicros);
    QFETCH(qsizetype, firstReach);
    LineListModel list;
    list.appendBatch(lines(count, length));
    ListPairWalk walk(list, {shared ? 0 : count + 1, std::chrono::microseconds(runMicros)});
    QList<qsizetype> found;
    const auto take = [&](qsizetype position) {
        found.append(position);
        return true;
    };
    qsizetype reached = walk.run(from, 100, take);
    if (firstReach > 0)
        QCOMPARE(reached, firstReach);
    else
        QVERIFY(reached > from + Piece - 1 && reached < count);
    while (reached < count) {
        const qsizetype before = reached;
        reached = walk.run(reached, 100, take);
        QVERIFY(reached > before);
    }
    QCOMPARE(reached, count);
    QCOMPARE(found, outOfOrder(list, from));
}

// The caller's stop ends the run at that position, with nothing found after it.
void TestPairWalk::aStopEndsTheRun() {
    for (const bool shared : {false, true}) {
        LineListModel list;
        list.appendBatch(lines(5000));
        const QList<qsizetype> expected = outOfOrder(list, 1);
        ListPairWalk walk(list, {shared ? 0 : 10000, std::chrono::seconds(60)});
        QList<qsizetype> found;
        const qsizetype reached = walk.run(1, 5000, [&](qsizetype position) {
            found.append(position);
            return found.size() < 3;
        });
        QCOMPARE(found, expected.first(3));
        QCOMPARE(reached, expected[2]);
    }
}

QTEST_GUILESS_MAIN(TestPairWalk)
#include "tst_pairwalk.moc"
