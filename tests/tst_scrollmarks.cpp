#include "app/linelistview.h"
#include "app/mainwindow.h"
#include "app/scrollmarks.h"
#include "lists/ordermarks.h"
#include "tests/support/scripteduserinterface.h"

#include <QHelpEvent>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <algorithm>

using namespace varnel;
using namespace varnel::testing;

class TestScrollMarks : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void aPressNearATick_data();
    void aPressNearATick();
    void denseMarksShowAsADensity();

private:
    QTemporaryDir m_folder;
};

namespace {

// 1,000 lines in order but for the first `descending` and the pair at line `swapped`.
QStringList linesWith(int descending, int swapped) {
    QStringList lines;
    for (int i = 1; i <= 1000; ++i)
        lines.append(QStringLiteral("%1").arg(i <= descending ? 2000 - i : i, 5, 10, QChar(u'0')));
    lines.swapItemsAt(swapped - 1, swapped);
    return lines;
}

bool shows(LineListView* view, qsizetype position) {
    const QRect row = view->visualRect(view->model()->index(int(position - 1), 0));
    return view->viewport()->rect().contains(row);
}

} // namespace

void TestScrollMarks::aPressNearATick_data() {
    QTest::addColumn<int>("off"); // rows from the tick
    QTest::addColumn<bool>("reached");
    QTest::newRow("on it") << 0 << true;
    QTest::newRow("two above") << -2 << true;
    QTest::newRow("two below") << 2 << true;
    QTest::newRow("three below") << 3 << false;
}

// A press within reach goes to the line and shows its partner; resting there names it.
void TestScrollMarks::aPressNearATick() {
    QFETCH(int, off);
    QFETCH(bool, reached);
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.state().input().appendBatch(linesWith(0, 500));
    ScrollMarks* marks = window.scrollMarks();
    marks->marks().settle();
    const std::vector<bool> ticks = marks->ticks();
    QCOMPARE(std::count(ticks.begin(), ticks.end(), true), 1);
    const QPoint at(ScrollMarks::Width / 2,
                    int(std::find(ticks.begin(), ticks.end(), true) - ticks.begin()) + off);
    QTest::mouseClick(marks, Qt::LeftButton, {}, at);
    LineListView* input = window.inputView();
    QCOMPARE(input->selectedPosition(), reached ? std::optional<qsizetype>(500) : std::nullopt);
    if (reached) {
        QVERIFY(shows(input, 500));
        QVERIFY(shows(input, 501));
    }
    QHelpEvent help(QEvent::ToolTip, at, marks->mapToGlobal(at));
    QApplication::sendEvent(marks, &help);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text().contains(QStringLiteral("Line 500 sorts after line 501")), reached);
    QToolTip::hideText();
}

// A part full of out-of-order lines is drawn stronger than a part with one; both show.
void TestScrollMarks::denseMarksShowAsADensity() {
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.state().input().appendBatch(linesWith(400, 800));
    ScrollMarks* marks = window.scrollMarks();
    marks->marks().settle();
    const std::vector<bool> ticks = marks->ticks();
    const int lone = int(std::find(ticks.rbegin(), ticks.rend(), true).base() - ticks.begin()) - 1;
    const QImage image = marks->grab().toImage();
    const QColor dense = image.pixelColor(0, 0), single = image.pixelColor(0, lone),
                 none = image.pixelColor(0, lone - 5);
    QVERIFY2(dense.lightness() < single.lightness() && single.lightness() < none.lightness(),
             qPrintable(dense.name() + single.name() + none.name()));
}

QTEST_MAIN(TestScrollMarks)
#include "tst_scrollmarks.moc"
