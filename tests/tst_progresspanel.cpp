#include "app/linelistview.h"
#include "app/mainwindow.h"
#include "app/progresspanel.h"
#include "commands/commandsummaries.h"
#include "tests/support/commandform.h"
#include "tests/support/drivenclock.h"
#include "tests/support/testfiles.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace varnel;
using namespace varnel::testing;
using namespace std::chrono_literals;

class TestProgressPanel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void extractionShowsProgressAndCancelButton();
    void escapeCancelsASortAside();
    void summaryGoesOnAClick();

private:
    // A shown window whose progress runs on the fake clock.
    struct Shown {
        ScriptedUserInterface ui;
        MainWindow window;
        explicit Shown(const QString& folder)
            : window(&ui, folder) {
            window.state().setApplicationTitle(QStringLiteral("Varnel"));
            window.state().progress().setClock(&readFakeNow);
            window.show();
        }
        ProgressPanel& panel() { return *window.progressPanel(); }
        CommandProgress& progress() { return window.state().progress(); }
        // Half a second on, as the window's timer would see it.
        void passHalfASecond() {
            fakeNow += CommandProgress::ShowAfter;
            progress().refresh();
        }
    };
    QTemporaryDir m_folder;
};

void TestProgressPanel::extractionShowsProgressAndCancelButton() {
    Shown shown(m_folder.path());
    QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
    shown.window.state().pump().setInterval(0us);
    shown.window.state().input().appendBatch(descending(2000));
    bool sawProgress = false;
    const auto during = onTurn(20, [&] {
        QVERIFY(shown.panel().isHidden()); // not before half a second
        shown.passHalfASecond();
        QVERIFY(shown.panel().isVisible());
        QVERIFY(shown.panel().cancelButton()->isVisible());
        QVERIFY(shown.panel().label()->text().startsWith(QStringLiteral("Checking 2,000 lines… ")));
        // Over the lower edge of the results list, inside it.
        const QRect list = shown.window.resultsView()->geometry();
        QVERIFY(list.contains(shown.panel().geometry()));
        QVERIFY(shown.panel().geometry().bottom() >= list.bottom() - 4);
        sawProgress = true;
        QTest::mouseClick(shown.panel().cancelButton(), Qt::LeftButton);
    });
    QTest::mouseClick(shown.window.button("PushButton7"), Qt::LeftButton);
    QVERIFY(sawProgress);
    QCOMPARE(shown.ui.messageTexts(), QStringList{QStringLiteral("Done.")});
    QVERIFY(shown.panel().isVisible());
    QVERIFY(shown.panel().cancelButton()->isHidden());
    QVERIFY2(shown.panel().label()->text().startsWith(QStringLiteral("Cancelled at line ")),
             qPrintable(shown.panel().label()->text()));
    QVERIFY(shown.window.state().results().count() > 0);
    QVERIFY(shown.window.state().results().count() < 1999);
    // Nothing of it takes the focus or a place in the tab order.
    QCOMPARE(shown.panel().cancelButton()->focusPolicy(), Qt::NoFocus);
    QCOMPARE(shown.panel().focusPolicy(), Qt::NoFocus);
}

void TestProgressPanel::escapeCancelsASortAside() {
    Shown shown(m_folder.path());
    QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
    shown.window.state().input().appendBatch(descending(300000));
    bool cleared = false;
    // The first turn is the wait for the work aside: every other key and click is discarded.
    const auto during = onTurn(1, [&] {
        shown.passHalfASecond();
        QVERIFY(shown.panel().isVisible());
        QVERIFY(
            shown.panel().label()->text().startsWith(QStringLiteral("Sorting 300,000 lines… ")));
        QTest::mouseClick(shown.window.button("PushButton3"), Qt::LeftButton);
        QTest::keyClick(shown.window.inputView(), Qt::Key_Escape);
        cleared = true;
    });
    QTest::mouseClick(shown.window.button("PushButton5"), Qt::LeftButton);
    QVERIFY(cleared);
    QCOMPARE(shown.window.state().results().count(), 0);
    QVERIFY(shown.window.state().results().isSorted());
    QCOMPARE(shown.window.state().input().count(), 300000); // the click went nowhere
    QCOMPARE(shown.panel().label()->text(), summaries::sortCancelled(300000));
    QVERIFY(shown.ui.messages.isEmpty());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void TestProgressPanel::summaryGoesOnAClick() {
    Shown shown(m_folder.path());
    QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
    shown.window.state().input().appendBatch({"a", "b", "c"});
    QTest::mouseClick(shown.window.button("PushButton7"), Qt::LeftButton);
    QVERIFY(shown.panel().isVisible());
    QCOMPARE(shown.panel().label()->text(), QStringLiteral("All 3 lines are in order"));
    // To a screen reader, the window's status.
    QAccessibleInterface* status = QAccessible::queryAccessibleInterface(&shown.panel());
    QCOMPARE(status->role(), QAccessible::StatusBar);
    QCOMPARE(status->text(QAccessible::Name), QStringLiteral("All 3 lines are in order"));
    // Escape does not put it away: only a click or the next command does.
    QTest::keyClick(shown.window.inputView(), Qt::Key_Escape);
    QVERIFY(shown.panel().isVisible());
    QTest::mouseClick(shown.window.resultsView()->viewport(), Qt::LeftButton);
    QVERIFY(shown.panel().isHidden());
}

QTEST_MAIN(TestProgressPanel)
#include "tst_progresspanel.moc"
