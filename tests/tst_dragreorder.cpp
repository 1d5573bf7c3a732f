#include "app/linelistview.h"
#include "app/mainwindow.h"
#include "tests/support/modaldialogs.h"
#include "tests/support/testfiles.h"

#include <QApplication>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

using namespace varnel;
using namespace varnel::testing;

namespace {

// A move with the left button held, onto the list's items.
void dragTo(LineListView* view, QPoint pos) {
    sendMouseMove(view->viewport(), pos, Qt::LeftButton);
}

// The centre of the item at `position`; for 0, empty space below the last item.
QPoint pointAt(LineListView* view, int position) {
    const QAbstractItemModel* model = view->model();
    if (position > 0)
        return view->visualRect(model->index(position - 1, 0)).center();
    return view->visualRect(model->index(model->rowCount() - 1, 0)).center() + QPoint(0, 30);
}

} // namespace

class TestDragReorder : public QObject {
    Q_OBJECT
private slots:
    void init();
    void carrying_data();
    void carrying();
    void edgeScrolling_data();
    void edgeScrolling();
    void dragPointer_data();
    void dragPointer();

private:
    std::unique_ptr<ScriptedUserInterface> m_ui;
    std::unique_ptr<MainWindow> m_window;
    QTemporaryDir m_folder; // an application folder without drag.ico
};

void TestDragReorder::init() {
    m_window.reset();
    m_ui = std::make_unique<ScriptedUserInterface>();
    m_window = std::make_unique<MainWindow>(m_ui.get(), m_folder.path());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestDragReorder::carrying_data() {
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("pressed");      // 0: empty space
    QTest::addColumn<int>("removed");      // by another command after the press; 0: none
    QTest::addColumn<QList<int>>("moves"); // 0: empty space
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("selected"); // -1: not checked

    const QStringList five{"a", "b", "c", "d", "e"};
    QTest::newRow("onto the item above")
        << five << 3 << 0 << QList<int>{2} << QStringList{"a", "c", "b", "d", "e"} << 2;
    QTest::newRow("down across four neighbours, one at a time")
        << QStringList{"a", "b", "c", "d", "e", "f"} << 1 << 0 << QList<int>{2, 3, 4, 5}
        << QStringList{"b", "c", "d", "e", "a", "f"} << 5;
    QTest::newRow("a jump swaps only the two ends")
        << five << 1 << 0 << QList<int>{5} << QStringList{"e", "b", "c", "d", "a"} << 5;
    QTest::newRow("up and back down") << five << 2 << 0 << QList<int>{1, 2} << five << 2;
    QTest::newRow("equal texts never trade")
        << QStringList{"x", "x", "y"} << 1 << 0 << QList<int>{2} << QStringList{"x", "x", "y"} << 1;
    QTest::newRow("empty space below the last item")
        << QStringList{"a", "b", "c"} << 2 << 0 << QList<int>{0} << QStringList{"a", "b", "c"} << 2;
    QStringList forty;
    for (int i = 1; i <= 40; ++i)
        forty.append(QStringLiteral("line %1").arg(i, 2, 10, QChar(u'0')));
    // Regression: a pointer carried past the list's edge "hit" rows out of view and swapped
    // lines the user never saw.
    QTest::newRow("past the bottom edge, over rows out of view")
        << forty << 1 << 0 << QList<int>{30, 35} << forty << 1;
    QTest::newRow("moves before any item was clicked")
        << QStringList{"a", "b", "c"} << 0 << 0 << QList<int>{1, 2, 3} << QStringList{"a", "b", "c"}
        << 0;
    QTest::newRow("carried item removed meanwhile: carrying ends")
        << QStringList{"a", "b", "c", "d"} << 3 << 3 << QList<int>{1, 2}
        << QStringList{"a", "b", "d"} << -1;
    QTest::newRow("item above removed meanwhile: the carried item is still carried")
        << QStringList{"a", "b", "c", "d"} << 4 << 1 << QList<int>{2} << QStringList{"b", "d", "c"}
        << 2;
}

void TestDragReorder::carrying() {
    QFETCH(QStringList, items);
    QFETCH(int, pressed);
    QFETCH(int, removed);
    QFETCH(QList<int>, moves);
    QFETCH(QStringList, expected);
    QFETCH(int, selected);
    LineListModel& input = m_window->state().input();
    LineListView* view = m_window->inputView();
    input.appendBatch(items);
    m_window->state().setPointer(Pointer::Custom);

    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, pointAt(view, pressed));
    if (removed)
        input.removeAt(removed);
    for (int position : moves)
        dragTo(view, pointAt(view, position));
    QCOMPARE(itemsOf(input), expected);
    if (selected >= 0)
        QCOMPARE(view->selectedPosition().value_or(0), selected);
    QCOMPARE(m_window->state().pointer(), Pointer::Default); // the hover rule ran as well
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, pointAt(view, moves.last()));

    // Released: moving with a button held but never pressed carries nothing.
    for (int position : {1, 2, 1})
        dragTo(view, pointAt(view, position));
    QCOMPARE(itemsOf(input), expected);
}

void TestDragReorder::edgeScrolling_data() {
    QTest::addColumn<QString>("third"); // of the list where the pointer is
    QTest::addColumn<int>("topRow");    // -1: scrolled to the end
    QTest::addColumn<bool>("equalTexts");
    QTest::addColumn<int>("direction");

    QTest::newRow("upper third shows the item above") << "upper" << 20 << false << -1;
    QTest::newRow("lower third shows the item below") << "lower" << 20 << false << 1;
    QTest::newRow("middle third does not scroll") << "middle" << 20 << false << 0;
    QTest::newRow("no exchange, no scrolling") << "upper" << 20 << true << 0;
    QTest::newRow("first item: nothing above it") << "upper" << 0 << false << 0;
    QTest::newRow("last item: nothing below it") << "lower" << -1 << false << 0;
}

void TestDragReorder::edgeScrolling() {
    QFETCH(QString, third);
    QFETCH(int, topRow);
    QFETCH(bool, equalTexts);
    QFETCH(int, direction);
    LineListModel& input = m_window->state().input();
    LineListView* view = m_window->inputView();
    QStringList items;
    for (int i = 0; i < 60; ++i)
        items.append(equalTexts ? QStringLiteral("same") : QStringLiteral("item %1").arg(i, 2));
    input.appendBatch(items);
    QCoreApplication::processEvents(); // the view takes in new rows on its next turn
    if (topRow < 0)
        view->scrollTo(input.index(59), QAbstractItemView::PositionAtBottom);
    else
        view->scrollTo(input.index(topRow), QAbstractItemView::PositionAtTop);

    // The pointer goes onto a fully shown item in the wanted third, the press onto its
    // neighbour towards the middle.
    const int height = view->viewport()->height();
    const QModelIndex first = view->indexAt(QPoint(5, 1));
    QModelIndex last = view->indexAt(QPoint(5, height - 1));
    if (!last.isValid()) // scrolled to the end, with room to spare
        last = input.index(int(input.count() - 1));
    QModelIndex target = view->indexAt(QPoint(5, height / 2));
    if (third == u"upper")
        target = view->visualRect(first).top() < 0 ? input.index(first.row() + 1) : first;
    else if (third == u"lower")
        target = view->visualRect(last).bottom() >= height ? input.index(last.row() - 1) : last;
    const QPoint point(5, third == u"middle" ? height / 2 : view->visualRect(target).center().y());
    QCOMPARE(3 * point.y() < height       ? u"upper"
             : 3 * point.y() > 2 * height ? u"lower"
                                          : u"middle",
             third);
    const int pressRow = third == u"lower" ? target.row() - 1 : target.row() + 1;
    QTest::mousePress(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(input.index(pressRow)).center());

    const int before = view->verticalScrollBar()->value();
    dragTo(view, point);
    const int moved = view->verticalScrollBar()->value() - before;
    QCOMPARE((moved > 0) - (moved < 0), direction);
    QCOMPARE(input.text(target.row() + 1), items[pressRow]);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, point);
}

void TestDragReorder::dragPointer_data() {
    QTest::addColumn<QString>("icon");
    QTest::addColumn<Qt::CursorShape>("shape");
    QTest::newRow("the shipped icon") << "shipped" << Qt::BitmapCursor;
    QTest::newRow("no icon file") << "" << Qt::ClosedHandCursor;
    QTest::newRow("a file that is no picture") << "not a picture" << Qt::ClosedHandCursor;
}

void TestDragReorder::dragPointer() {
    QFETCH(QString, icon);
    QFETCH(Qt::CursorShape, shape);
    QTemporaryDir folder;
    if (icon == u"shipped")
        QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/drag.ico"),
                            folder.filePath(QStringLiteral("drag.ico"))));
    else if (!icon.isEmpty())
        writeFile(folder.filePath(QStringLiteral("drag.ico")), icon.toUtf8());
    MainWindow window(m_ui.get(), folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.state().input().appendBatch({"a", "b"});
    LineListView* view = window.inputView();
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, pointAt(view, 1));
    QCOMPARE(view->viewport()->cursor().shape(), shape);
    if (shape == Qt::BitmapCursor)
        QCOMPARE(view->viewport()->cursor().pixmap().size(), QSize(32, 32));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, pointAt(view, 1));
    QCOMPARE(view->viewport()->cursor().shape(), Qt::ArrowCursor);
    // Released, the list shows the window's pointer again: a command's hourglass too.
    window.state().setPointer(Pointer::Hourglass);
    QCOMPARE(view->viewport()->cursor().shape(), Qt::WaitCursor);
}

QTEST_MAIN(TestDragReorder)
#include "tst_dragreorder.moc"
