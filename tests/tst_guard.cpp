#include "core/errorreport.h"
#include "core/guard.h"
#include "tests/support/testfiles.h"

#include <QTest>

using namespace varnel;
using namespace varnel::testing;

class TestGuard : public QObject {
    Q_OBJECT
private slots:
    void continuesAfterEachFailureInOrder();
    void unexpectedFailuresAreDescribed_data();
    void unexpectedFailuresAreDescribed();
    void closingTheWindowIsNotReported();
    void heldBackWorkIsHandedOverBeforeAReport();
};

void TestGuard::continuesAfterEachFailureInOrder() {
    ScriptedUserInterface ui;
    GuardedOperation g(ui, locations::extractOutOfOrderLines);
    QStringList ran;
    g.run([] { throw failures::indexOutOfBounds(); }); // before the first numbered line
    g.step(100, [&] { ran << "100"; });
    g.step(102, [&] { throw failures::fileNotFound(); });
    g.run([&] { ran << "102 again"; });
    g.step(104, [&] { throw failures::diskFull(); });
    g.step(106, [&] { ran << "106"; });
    QCOMPARE(ran, (QStringList{"100", "102 again", "106"}));
    QCOMPARE(
        reportHeads(ui),
        (QStringList{"Index out of bounds\r\n" + locations::extractOutOfOrderLines + "at line 0",
                     "File not found\r\n" + locations::extractOutOfOrderLines + "at line 102",
                     "Disk full\r\n" + locations::extractOutOfOrderLines + "at line 104"}));
    QCOMPARE(g.failureCount(), 3);
}

void TestGuard::unexpectedFailuresAreDescribed_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("description");
    QTest::newRow("out of memory") << 0 << "Out of memory";
    QTest::newRow("standard exception") << 1 << "vector::_M_range_check";
}

void TestGuard::unexpectedFailuresAreDescribed() {
    QFETCH(int, kind);
    QFETCH(QString, description);
    ScriptedUserInterface ui;
    GuardedOperation g(ui, locations::loadTextFiles);
    g.step(116, [kind] {
        if (kind == 0)
            throw std::bad_alloc();
        throw std::out_of_range("vector::_M_range_check");
    });
    QCOMPARE(ui.messages.size(), 1);
    QVERIFY(ui.messages.first().text.startsWith(description + QStringLiteral("\r\n")));
}

void TestGuard::closingTheWindowIsNotReported() {
    ScriptedUserInterface ui;
    GuardedOperation g(ui, locations::saveResultsAsText);
    bool after = false;
    QVERIFY_THROWS_EXCEPTION(ProgramEnding, {
        g.step(134, [] { throw ProgramEnding{}; });
        after = true;
    });
    QVERIFY(!after);
    QVERIFY(ui.messages.isEmpty());
}

void TestGuard::heldBackWorkIsHandedOverBeforeAReport() {
    ScriptedUserInterface ui;
    GuardedOperation g(ui, locations::extractOutOfOrderLines);
    int handedOver = 0;
    int seenWhenReported = -1;
    g.setBeforeReport([&] { ++handedOver; });
    ui.onMessage = [&](const ScriptedUserInterface::Message&) { seenWhenReported = handedOver; };
    g.step(116, [] { throw failures::indexOutOfBounds(); });
    QCOMPARE(seenWhenReported, 1);
}

QTEST_GUILESS_MAIN(TestGuard)
#include "tst_guard.moc"
