#include "app/linelistview.h"

#include <QAbstractListModel>
#include <QAccessible>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

using namespace varnel;

namespace {

// As many rows as asked for, none of them stored: ten million cost nothing here either.
class CountingModel : public QAbstractListModel {
public:
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : m_rows;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole)
            return {};
        return index.row() == m_wideRow ? QString(200, u'w')
                                        : QStringLiteral("line %1").arg(index.row() + 1);
    }
    void setWideRow(int row) { m_wideRow = row; }
    void change(int first, int last) { emit dataChanged(index(first), index(last)); }
    void insert(int at, int count) {
        beginInsertRows({}, at, at + count - 1);
        m_rows += count;
        endInsertRows();
    }
    void remove(int at, int count) {
        beginRemoveRows({}, at, at + count - 1);
        m_rows -= count;
        endRemoveRows();
    }

private:
    int m_rows = 0;
    int m_wideRow = -1;
};

// Opens the selection by rectangle, which the view's own mouse handling only reaches
// with a one-pixel rectangle in a list of single selection.
class OpenView : public LineListView {
public:
    using LineListView::setSelection;
    using LineListView::visualRegionForSelection;
    QRect visualRect(const QModelIndex& index) const override {
        ++rectsAsked;
        return LineListView::visualRect(index);
    }
    mutable qsizetype rectsAsked = 0;
};

} // namespace

class TestLineListView : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void rowsAsHighAsATablesRows_data();
    void rowsAsHighAsATablesRows();
    void pointsAndRowsAgree_data();
    void pointsAndRowsAgree();
    void scrollHintsPlaceTheRow_data();
    void scrollHintsPlaceTheRow();
    void keysStopAtTheEnds_data();
    void keysStopAtTheEnds();
    void rectangleSelectsItsRows_data();
    void rectangleSelectsItsRows();
    void scrollRangeFollowsTheRowCount_data();
    void scrollRangeFollowsTheRowCount();
    void fittingTheColumnMeasuresTheRowsInView_data();
    void fittingTheColumnMeasuresTheRowsInView();
    void aScreenReaderReadsTheLines_data();
    void aScreenReaderReadsTheLines();
    void changedRowsCostWhatIsInView_data();
    void changedRowsCostWhatIsInView();

private:
    void fill(int rows);
    QModelIndex row(int number) const { return m_model->index(number, 0); }
    int viewHeight() const { return m_view->viewport()->height(); }
    int rowHeight() const { return m_view->rowHeight(); }
    QPoint inColumn(int y) const { return QPoint(m_view->header()->sectionSize(0) / 2, y); }

    std::unique_ptr<CountingModel> m_model;
    std::unique_ptr<OpenView> m_view;
};

void TestLineListView::init() {
    m_model = std::make_unique<CountingModel>();
    m_view = std::make_unique<OpenView>();
    m_view->setModel(m_model.get());
    m_view->header()->resizeSection(0, 150);
    // A height that is no whole number of rows: the last row in view is cut.
    m_view->resize(300, 10 * m_view->rowHeight() + 7 + m_view->header()->sizeHint().height());
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

void TestLineListView::cleanup() {
    m_view.reset();
    m_model.reset();
}

void TestLineListView::fill(int rows) {
    m_model->insert(0, rows);
    // The scroll bar shows up a turn later and takes its width from the viewport.
    QCoreApplication::processEvents();
}

void TestLineListView::rowsAsHighAsATablesRows_data() {
    QTest::addColumn<qreal>("points");
    QTest::newRow("the window's 9 points") << 9.0;
    QTest::newRow("large") << 20.0;
}

// The lists were tables whose hidden row header would not make a row lower than its own
// text and margins; the rows keep that height, at the list's font and after a change of it.
void TestLineListView::rowsAsHighAsATablesRows() {
    QFETCH(qreal, points);
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    QTableView table;
    table.setFont(font);
    table.verticalHeader()->setDefaultSectionSize(table.fontMetrics().height());
    table.verticalHeader()->setMinimumSectionSize(1);
    QWidget parent;
    parent.setFont(font);
    const LineListView made(&parent);
    QCOMPARE(made.rowHeight(), table.verticalHeader()->defaultSectionSize());
    m_view->setFont(font);
    QCOMPARE(m_view->rowHeight(), table.verticalHeader()->defaultSectionSize());
}

void TestLineListView::pointsAndRowsAgree_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("at");
    for (int rows : {3, 1000, 10'000'000}) {
        const QByteArray count = QByteArray::number(rows);
        QTest::newRow(count + " first") << rows << 0;
        QTest::newRow(count + " middle") << rows << rows / 2;
        QTest::newRow(count + " last") << rows << rows - 1;
    }
}

// A row's rectangle and the rows under its edges: a slip of one pixel or one row shows.
void TestLineListView::pointsAndRowsAgree() {
    QFETCH(int, rows);
    QFETCH(int, at);
    fill(rows);
    m_view->scrollTo(row(at));
    const QRect place = m_view->visualRect(row(at));
    QVERIFY(m_view->viewport()->rect().contains(place));
    QCOMPARE(place.height(), rowHeight());
    QCOMPARE(place.width(), 150);
    QCOMPARE(m_view->indexAt(place.center()), row(at));
    QCOMPARE(m_view->indexAt(QPoint(place.left(), place.top())), row(at));
    QCOMPARE(m_view->indexAt(QPoint(place.right(), place.bottom())), row(at));
    QCOMPARE(m_view->indexAt(QPoint(place.left(), place.top() - 1)),
             at > 0 && place.top() > 0 ? row(at - 1) : QModelIndex());
    QCOMPARE(m_view->indexAt(QPoint(place.left(), place.bottom() + 1)),
             at + 1 < rows ? row(at + 1) : QModelIndex());
    // Right of the column is no item.
    QCOMPARE(m_view->indexAt(QPoint(place.right() + 1, place.center().y())), QModelIndex());
    QCOMPARE(m_view->positionAt(place.center()), qsizetype(at) + 1);
}

void TestLineListView::scrollHintsPlaceTheRow_data() {
    QTest::addColumn<int>("from"); // the row at the top before
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("hint");
    QTest::addColumn<QString>("where"); // top, bottom, center, or unmoved
    const int rows = 10'000'000;
    using V = QAbstractItemView;
    QTest::newRow("ensure, below") << 0 << 5'000'000 << int(V::EnsureVisible) << "bottom";
    QTest::newRow("ensure, above") << 6'000'000 << 5'000'000 << int(V::EnsureVisible) << "top";
    QTest::newRow("ensure, in view")
        << 5'000'000 << 5'000'003 << int(V::EnsureVisible) << "unmoved";
    // The row the height cuts counts as out of view.
    QTest::newRow("ensure, cut at the bottom") << 0 << 10 << int(V::EnsureVisible) << "bottom";
    QTest::newRow("top") << 0 << 5'000'000 << int(V::PositionAtTop) << "top";
    QTest::newRow("bottom") << rows - 20 << 5'000'000 << int(V::PositionAtBottom) << "bottom";
    QTest::newRow("center") << 0 << 5'000'000 << int(V::PositionAtCenter) << "center";
    QTest::newRow("last at the top") << 0 << rows - 1 << int(V::PositionAtTop) << "bottom";
    QTest::newRow("first at the bottom") << 100 << 0 << int(V::PositionAtBottom) << "top";
    QTest::newRow("last in the center") << 0 << rows - 1 << int(V::PositionAtCenter) << "bottom";
}

void TestLineListView::scrollHintsPlaceTheRow() {
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, hint);
    QFETCH(QString, where);
    fill(10'000'000);
    m_view->scrollTo(row(from), QAbstractItemView::PositionAtTop);
    QCOMPARE(m_view->visualRect(row(from)).top(), 0);
    m_view->scrollTo(row(to), QAbstractItemView::ScrollHint(hint));
    const QRect place = m_view->visualRect(row(to));
    if (where == u"top")
        QCOMPARE(place.top(), 0);
    else if (where == u"bottom") // whole, less than a row above the bottom edge
        QVERIFY2(place.bottom() < viewHeight() && place.bottom() >= viewHeight() - rowHeight(),
                 qPrintable(QString::number(place.bottom())));
    else if (where == u"center")
        QVERIFY2(qAbs(place.center().y() - viewHeight() / 2) <= rowHeight(),
                 qPrintable(QString::number(place.top())));
    else
        QCOMPARE(m_view->visualRect(row(from)).top(), 0);
    // The top row whole too, unless the list's end is in view.
    const int offset = m_view->verticalScrollBar()->value();
    QVERIFY(offset % rowHeight() == 0 || offset == m_view->verticalScrollBar()->maximum());
}

void TestLineListView::keysStopAtTheEnds_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("to"); // -1: the row under the page's far edge before the key
    const int big = 10'000'000;
    QTest::newRow("page up at the top") << big << 0 << int(Qt::Key_PageUp) << 0 << 0;
    QTest::newRow("page up near the top") << big << 3 << int(Qt::Key_PageUp) << 0 << 0;
    QTest::newRow("page down at the end")
        << big << big - 1 << int(Qt::Key_PageDown) << 0 << big - 1;
    QTest::newRow("page down near the end")
        << big << big - 3 << int(Qt::Key_PageDown) << 0 << big - 1;
    QTest::newRow("page down from the top") << big << 0 << int(Qt::Key_PageDown) << 0 << -1;
    QTest::newRow("page down, short list") << 4 << 1 << int(Qt::Key_PageDown) << 0 << 3;
    QTest::newRow("up at the top") << big << 0 << int(Qt::Key_Up) << 0 << 0;
    QTest::newRow("down at the end") << big << big - 1 << int(Qt::Key_Down) << 0 << big - 1;
    QTest::newRow("end") << big << 7 << int(Qt::Key_End) << 0 << big - 1;
    QTest::newRow("home") << big << 5'000'000 << int(Qt::Key_Home) << 0 << 0;
    QTest::newRow("control end") << big << 7 << int(Qt::Key_End) << int(Qt::ControlModifier)
                                 << big - 1;
    QTest::newRow("right stays") << big << 7 << int(Qt::Key_Right) << 0 << 7;
}

void TestLineListView::keysStopAtTheEnds() {
    QFETCH(int, rows);
    QFETCH(int, from);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, to);
    fill(rows);
    m_view->setCurrentIndex(row(from));
    if (to < 0)
        to = m_view->indexAt(inColumn(m_view->visualRect(row(from)).top() + viewHeight())).row();
    QTest::keyClick(m_view.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(m_view->currentIndex().row(), to);
    QCOMPARE(m_view->selectedPosition(), qsizetype(to) + 1);
    QVERIFY(m_view->viewport()->rect().contains(m_view->visualRect(row(to))));
}

void TestLineListView::rectangleSelectsItsRows_data() {
    QTest::addColumn<int>("scrolledTo"); // the row at the top
    QTest::addColumn<int>("fromY");      // in rows from the viewport's top, may be fractional
    QTest::addColumn<int>("toY");
    QTest::addColumn<int>("x");     // 0: in the column, 1: right of it
    QTest::addColumn<int>("first"); // -1: nothing selected
    QTest::addColumn<int>("last");
    // 20 rows; the view shows ten and a bit.
    QTest::newRow("one row") << 0 << 2 << 2 << 0 << 2 << 2;
    QTest::newRow("three rows") << 0 << 2 << 4 << 0 << 2 << 4;
    QTest::newRow("upside down") << 0 << 4 << 2 << 0 << 2 << 4;
    QTest::newRow("scrolled") << 9 << 0 << 1 << 0 << 9 << 10;
    QTest::newRow("past the end") << 9 << 10 << 30 << 0 << 19 << 19;
    QTest::newRow("above the first") << 0 << -3 << 0 << 0 << 0 << 0;
    QTest::newRow("beside the column") << 0 << 2 << 4 << 1 << -1 << -1;
}

void TestLineListView::rectangleSelectsItsRows() {
    QFETCH(int, scrolledTo);
    QFETCH(int, fromY);
    QFETCH(int, toY);
    QFETCH(int, x);
    QFETCH(int, first);
    QFETCH(int, last);
    fill(20);
    m_view->scrollTo(row(scrolledTo), QAbstractItemView::PositionAtTop);
    const int h = rowHeight();
    const int left = x == 0 ? 10 : m_view->header()->sectionSize(0) + 5;
    // Half a row into each end row, so each end's row is plain.
    const QRect area(QPoint(left, fromY * h + h / 2), QPoint(left + 20, toY * h + h / 2));
    m_view->setSelection(area, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QList<int> selected;
    for (const QModelIndex& index : m_view->selectionModel()->selectedRows())
        selected.append(index.row());
    std::sort(selected.begin(), selected.end());
    QList<int> expected;
    for (int r = first; r >= 0 && r <= last; ++r)
        expected.append(r);
    QCOMPARE(selected, expected);
}

void TestLineListView::scrollRangeFollowsTheRowCount_data() {
    QTest::addColumn<int>("inserted");
    QTest::addColumn<int>("removed");
    QTest::newRow("ten million") << 10'000'000 << 0;
    QTest::newRow("ten million, all but one gone") << 10'000'000 << 9'999'999;
    QTest::newRow("fewer than fill the view") << 5 << 2;
    QTest::newRow("all gone") << 1000 << 1000;
}

void TestLineListView::scrollRangeFollowsTheRowCount() {
    QFETCH(int, inserted);
    QFETCH(int, removed);
    fill(inserted);
    m_view->scrollTo(row(inserted - 1));
    if (removed > 0)
        m_model->remove(0, removed);
    QCoreApplication::processEvents();
    const qint64 length = qint64(inserted - removed) * rowHeight();
    QCOMPARE(m_view->verticalScrollBar()->maximum(), int(qMax<qint64>(0, length - viewHeight())));
    QVERIFY(m_view->verticalScrollBar()->value() <= m_view->verticalScrollBar()->maximum());
    // A selection of every row marks only what is in view, from the middle of the list.
    if (inserted > removed) {
        m_view->scrollTo(row((inserted - removed) / 2), QAbstractItemView::PositionAtCenter);
        const QItemSelection all(row(0), row(inserted - removed - 1));
        const QRect marked = m_view->visualRegionForSelection(all).boundingRect();
        QVERIFY2(marked.top() >= -1 && marked.bottom() <= viewHeight() + 1,
                 qPrintable(QStringLiteral("%1..%2").arg(marked.top()).arg(marked.bottom())));
    }
}

void TestLineListView::fittingTheColumnMeasuresTheRowsInView_data() {
    QTest::addColumn<int>("scrolledTo");
    QTest::addColumn<bool>("wide");
    // The wide line is row 500 of ten million.
    QTest::newRow("wide line out of view") << 0 << false;
    QTest::newRow("wide line in view") << 495 << true;
    QTest::newRow("wide line just below") << 480 << false;
}

// A double-click on the divider fits the column to the lines in view, as a table does:
// measuring every line would read ten million of them.
void TestLineListView::fittingTheColumnMeasuresTheRowsInView() {
    QFETCH(int, scrolledTo);
    QFETCH(bool, wide);
    m_model->setWideRow(500);
    fill(10'000'000);
    m_view->scrollTo(row(scrolledTo), QAbstractItemView::PositionAtTop);
    emit m_view->header()->sectionHandleDoubleClicked(0);
    const int wideText = m_view->fontMetrics().horizontalAdvance(QString(200, u'w'));
    const int shortText = m_view->fontMetrics().horizontalAdvance(QStringLiteral("line 1"));
    const int width = m_view->header()->sectionSize(0);
    QVERIFY2(wide ? width >= wideText : width < wideText && width >= shortText,
             qPrintable(QString::number(width)));
}

void TestLineListView::aScreenReaderReadsTheLines_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("at");
    QTest::newRow("first") << 10 << 0;
    QTest::newRow("last of ten million") << 10'000'000 << 9'999'999;
    QTest::newRow("middle") << 10 << 5;
}

void TestLineListView::aScreenReaderReadsTheLines() {
    QFETCH(int, rows);
    QFETCH(int, at);
    fill(rows);
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(m_view.get());
    QVERIFY(list && list->tableInterface());
    QAccessibleTableInterface* table = list->tableInterface();
    QCOMPARE(table->rowCount(), rows);
    QCOMPARE(table->columnCount(), 1);
    QVERIFY(!table->cellAt(rows, 0));
    const QString text = QStringLiteral("line %1").arg(at + 1);
    QAccessibleInterface* cell = table->cellAt(at, 0);
    QVERIFY(cell);
    QCOMPARE(cell->text(QAccessible::Name), text);
    QCOMPARE(list->indexOfChild(cell), at);
    m_view->selectPosition(at + 1);
    QVERIFY(cell->tableCellInterface()->isSelected());
    QCOMPARE(table->selectedRows(), QList<int>{at});
    QVERIFY(table->isRowSelected(at));
    QVERIFY(!table->isRowSelected(at > 0 ? at - 1 : at + 1));
    // Where the line is on screen leads back to it.
    m_view->scrollTo(row(at));
    QCOMPARE(list->childAt(cell->rect().center().x(), cell->rect().center().y()), cell);
    // With a line above it gone, the item read before is one row up; its old row is
    // another item's. (This model's texts go by row.)
    if (at > 0 && at + 1 < rows) {
        m_model->remove(0, 1);
        QCOMPARE(list->indexOfChild(cell), at - 1);
        QAccessibleInterface* next = table->cellAt(at, 0);
        QVERIFY(next && next != cell);
        QCOMPARE(list->indexOfChild(next), at);
        QCOMPARE(table->cellAt(at - 1, 0), cell);
    }
}

void TestLineListView::changedRowsCostWhatIsInView_data() {
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::newRow("every row") << 0 << 999999;
    QTest::newRow("the rows above the view") << 0 << 499000;
    QTest::newRow("the rows in view and far below") << 500000 << 999999;
}

// A change of every result's link names a million rows at once: looking at each of them
// held the window a tenth of a second at ten million.
void TestLineListView::changedRowsCostWhatIsInView() {
    QFETCH(int, first);
    QFETCH(int, last);
    fill(1000000);
    m_view->scrollTo(row(500000), QAbstractItemView::PositionAtTop);
    m_view->rectsAsked = 0;
    m_model->change(first, last);
    QVERIFY2(m_view->rectsAsked < 100, qPrintable(QString::number(m_view->rectsAsked)));
}

QTEST_MAIN(TestLineListView)
#include "tst_linelistview.moc"
