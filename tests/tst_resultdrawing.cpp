#include "app/linelistview.h"
#include "app/mainwindow.h"
#include "app/resultdrawing.h"
#include "app/scrollmarks.h"
#include "tests/support/scripteduserinterface.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace varnel;
using namespace varnel::testing;

namespace {

QModelIndex rowOf(LineListView* view, int position) {
    return view->model()->index(position - 1, 0);
}

void clickRow(LineListView* view, int position) {
    view->scrollTo(rowOf(view, position));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(rowOf(view, position)).center());
}

} // namespace

class TestResultDrawing : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void aResultShowsItsState_data();
    void aResultShowsItsState();
    void thePartnerIsMarkedNotSelected();
    void clickingTheSelectedResultAgainGoesBack();
    void aRemovedLineLeavesNoSelection();
    void marksBesideTheScrollBar();

private:
    std::unique_ptr<ScriptedUserInterface> m_ui;
    std::unique_ptr<MainWindow> m_window;
    QTemporaryDir m_folder;
};

void TestResultDrawing::init() {
    m_ui = std::make_unique<ScriptedUserInterface>();
    m_window = std::make_unique<MainWindow>(m_ui.get(), m_folder.path());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    // "b" sorts after "a" below it: one result, for line 2.
    m_window->state().input().appendBatch({"x0", "b", "a", "c", "d"});
    m_window->state().input().exchange(1, 5);
    // d b a c x0: results d (1) and b (2).
    QTest::mouseClick(m_window->button("PushButton7"), Qt::LeftButton);
    QCOMPARE(m_window->state().results().count(), 2);
}

void TestResultDrawing::cleanup() {
    m_window.reset();
}

void TestResultDrawing::aResultShowsItsState_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("role");
    QTest::newRow("live") << "" << int(LinkState::OutOfOrder) << int(QPalette::Text);
    QTest::newRow("pair put in order")
        << "fix" << int(LinkState::InOrder) << int(QPalette::PlaceholderText);
    QTest::newRow("line removed") << "remove" << int(LinkState::Removed)
                                  << int(QPalette::PlaceholderText);
    QTest::newRow("a line of the correct order")
        << "order" << int(LinkState::Copy) << int(QPalette::Text);
}

void TestResultDrawing::aResultShowsItsState() {
    QFETCH(QString, edit);
    QFETCH(int, state);
    QFETCH(int, role);
    LineListModel& input = m_window->state().input();
    if (edit == u"fix")
        input.exchange(2, 3); // d a b c x0: "b" above "c" is in order
    else if (edit == u"remove")
        input.removeAt(2);
    else if (edit == u"order")
        QTest::mouseClick(m_window->button("PushButton5"), Qt::LeftButton);
    LineListView* results = m_window->resultsView();
    const QModelIndex result = rowOf(results, edit == u"order" ? 1 : 2);
    const LinkState shown = ResultDelegate::stateOf(result);
    QCOMPARE(int(shown), state);
    QCOMPARE(int(ResultDelegate::textRole(shown)), role);
    // The description says the same.
    const QString description = result.data(Qt::AccessibleDescriptionRole).toString();
    if (edit == u"fix")
        QVERIFY(description.endsWith(u"is now in order"));
    else if (edit == u"remove")
        QCOMPARE(description, QStringLiteral("Its line was removed"));
}

void TestResultDrawing::thePartnerIsMarkedNotSelected() {
    LineListView* input = m_window->inputView();
    auto* partner = qobject_cast<PartnerDelegate*>(input->itemDelegate());
    QVERIFY(partner);
    QVERIFY(!partner->isPartner(rowOf(input, 3)));
    clickRow(m_window->resultsView(), 2); // "b", line 2
    QCOMPARE(input->selectedPosition(), 2);
    QVERIFY(partner->isPartner(rowOf(input, 3)));
    QVERIFY(!partner->isPartner(rowOf(input, 2)));
    QCOMPARE(input->selectionModel()->selectedRows().size(), 1);
    // It follows the pair when lines above it go.
    m_window->state().input().removeAt(1);
    QVERIFY(partner->isPartner(rowOf(input, 2)));
}

void TestResultDrawing::clickingTheSelectedResultAgainGoesBack() {
    LineListView* input = m_window->inputView();
    clickRow(m_window->resultsView(), 2);
    QCOMPARE(input->selectedPosition(), 2);
    clickRow(input, 5);
    QCOMPARE(input->selectedPosition(), 5);
    clickRow(m_window->resultsView(), 2);
    QCOMPARE(input->selectedPosition(), 2);
}

void TestResultDrawing::aRemovedLineLeavesNoSelection() {
    LineListView* input = m_window->inputView();
    clickRow(input, 4);
    m_window->state().input().removeAt(2);
    clickRow(m_window->resultsView(), 2);
    QCOMPARE(input->selectedPosition(), std::nullopt);
}

void TestResultDrawing::marksBesideTheScrollBar() {
    LineListModel& input = m_window->state().input();
    input.clear();
    QStringList lines;
    for (int i = 0; i < 1000; ++i)
        lines.append(QStringLiteral("line %1").arg(i, 4, 10, QChar(u'0')));
    lines.swapItemsAt(699, 700); // line 700 sorts after line 701
    input.appendBatch(lines);
    ScrollMarks* marks = m_window->scrollMarks();
    QVERIFY(marks->isVisible());
    const int height = marks->height();
    QVERIFY(height > 10);
    const int tick = int(699LL * height / 1000);
    std::vector<bool> expected(size_t(height), false);
    // A part holds line 700 when its first line (from 0) is at or before index 699.
    for (int y = 0; y < height; ++y)
        expected[size_t(y)] = 1000LL * y / height <= 699 && 699 < 1000LL * (y + 1) / height;
    QTRY_COMPARE(marks->ticks(), expected);
    QVERIFY(expected[size_t(tick)]);
    QTest::mouseClick(marks, Qt::LeftButton, {}, QPoint(1, tick));
    QCOMPARE(m_window->inputView()->selectedPosition(), 700);
    // Fixed, the mark goes.
    input.exchange(700, 701);
    QTRY_COMPARE(marks->ticks(), std::vector<bool>(size_t(height), false));
}

QTEST_MAIN(TestResultDrawing)
#include "tst_resultdrawing.moc"
