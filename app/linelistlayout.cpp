// Where LineListView's rows are, and their drawing: every place follows from a row's number
// and the one row height, so nothing is laid out or kept per row, a change of the row count
// costs the same for one row as for ten million, and a paint reads only the rows in view.

#include "linelistview.h"

#include <QAccessible>

#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

#include <algorithm>
#include <climits>

namespace varnel {

void LineListView::setModel(QAbstractItemModel* model) {
    for (const QMetaObject::Connection& connection : std::as_const(m_modelConnections))
        disconnect(connection);
    m_modelConnections.clear();
    m_header->setModel(model);
    QAbstractItemView::setModel(model);
    if (model) {
        // Rows come in through rowsInserted; going or moving there is no virtual for.
        m_modelConnections = {
            connect(model, &QAbstractItemModel::rowsRemoved, this, [this] { rowCountChanged(); }),
            connect(model, &QAbstractItemModel::rowsMoved, this, [this] { rowCountChanged(); }),
        };
    }
    updateGeometries();
}

void LineListView::reset() {
    QAbstractItemView::reset();
    rowCountChanged();
}

void LineListView::rowsInserted(const QModelIndex& parent, int first, int last) {
    QAbstractItemView::rowsInserted(parent, first, last);
    rowCountChanged();
}

void LineListView::rowCountChanged() {
    updateGeometries();
    viewport()->update();
}

qint64 LineListView::rowAtY(int y) const {
    const qint64 content = qint64(y) + verticalOffset();
    return content < 0 ? -1 : content / m_rowHeight;
}

int LineListView::horizontalOffset() const {
    return horizontalScrollBar()->value();
}

int LineListView::verticalOffset() const {
    return verticalScrollBar()->value();
}

QRect LineListView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model() || index.column() != 0)
        return {};
    const qint64 top = qint64(index.row()) * m_rowHeight - verticalOffset();
    return QRect(m_header->sectionViewportPosition(0),
                 int(std::clamp<qint64>(top, INT_MIN / 2, INT_MAX / 2)), m_header->sectionSize(0),
                 m_rowHeight);
}

QModelIndex LineListView::indexAt(const QPoint& point) const {
    if (!model() || m_header->logicalIndexAt(point.x()) != 0)
        return {};
    const qint64 row = rowAtY(point.y());
    if (row < 0 || row >= model()->rowCount(rootIndex()))
        return {};
    return model()->index(int(row), 0, rootIndex());
}

void LineListView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid() || index.model() != model())
        return;
    // As a table scrolls by pixels: a row partly out of view counts as out of view.
    const int height = viewport()->height();
    const qint64 top = qint64(index.row()) * m_rowHeight;
    const qint64 offset = verticalOffset();
    if (top < offset || m_rowHeight > height) {
        if (hint == EnsureVisible)
            hint = PositionAtTop;
    } else if (top + m_rowHeight > offset + height) {
        if (hint == EnsureVisible)
            hint = PositionAtBottom;
    }
    // To a whole row at the top, where the list's end allows it: a row cut at the top edge
    // reads as half hidden under the header. Down to the next whole row, the row placed at
    // the bottom moves up by less than a row and stays whole.
    const auto scrollTo = [this](qint64 value, bool up) {
        const qint64 whole = (value + (up ? m_rowHeight - 1 : m_rowHeight / 2)) / m_rowHeight;
        verticalScrollBar()->setValue(
            int(std::clamp<qint64>(std::max<qint64>(0, whole) * m_rowHeight, 0, INT_MAX)));
    };
    if (hint == PositionAtTop)
        scrollTo(top, true);
    else if (hint == PositionAtBottom)
        scrollTo(top + m_rowHeight - height, true);
    else if (hint == PositionAtCenter)
        scrollTo(top - (height - m_rowHeight) / 2, false);

    const int width = viewport()->width();
    const int left = m_header->sectionPosition(0);
    const int columnWidth = m_header->sectionSize(0);
    if (hint == PositionAtCenter)
        horizontalScrollBar()->setValue(left - (width - columnWidth) / 2);
    else if (left < horizontalOffset() || columnWidth > width)
        horizontalScrollBar()->setValue(left);
    else if (left + columnWidth > horizontalOffset() + width)
        horizontalScrollBar()->setValue(left + columnWidth - width);
    update(index);
}

void LineListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    if (!selectionModel() || !model())
        return;
    const QRect area = rect.normalized();
    const int left = m_header->sectionViewportPosition(0);
    if (area.right() < left || area.left() >= left + m_header->sectionSize(0))
        return;
    const int rows = model()->rowCount(rootIndex());
    const qint64 first = std::max<qint64>(0, rowAtY(area.top()));
    const qint64 last = std::min<qint64>(rows - 1, rowAtY(area.bottom()));
    // Like a table, a press beside every item leaves the selection alone.
    if (first > last)
        return;
    const QItemSelection selection(model()->index(int(first), 0, rootIndex()),
                                   model()->index(int(last), 0, rootIndex()));
    selectionModel()->select(selection, command);
}

// The base class unites the rectangle of every changed row: a change of a million links
// would cost a million rectangles. Only the part in view is painted again.
void LineListView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                               const QList<int>& roles) {
    if (topLeft == bottomRight || !topLeft.isValid() || !bottomRight.isValid()) {
        QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
        return;
    }
    const QItemSelection changed(topLeft, bottomRight);
    viewport()->update(visualRegionForSelection(changed));
#if QT_CONFIG(accessibility)
    if (QAccessible::isActive()) {
        QAccessibleTableModelChangeEvent event(this, QAccessibleTableModelChangeEvent::DataChanged);
        event.setFirstRow(topLeft.row());
        event.setFirstColumn(topLeft.column());
        event.setLastRow(bottomRight.row());
        event.setLastColumn(bottomRight.column());
        QAccessible::updateAccessibility(&event);
    }
#endif
}

QRegion LineListView::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    const int left = m_header->sectionViewportPosition(0);
    const int width = m_header->sectionSize(0);
    const qint64 height = viewport()->height();
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid() || range.parent() != rootIndex() || range.left() > 0)
            continue;
        // Only the part in view: a range may cover millions of rows.
        const qint64 top = qint64(range.top()) * m_rowHeight - verticalOffset();
        const qint64 bottom = qint64(range.bottom() + 1) * m_rowHeight - verticalOffset();
        const int from = int(std::clamp<qint64>(top, -1, height + 1));
        const int to = int(std::clamp<qint64>(bottom, -1, height + 1));
        if (to > from)
            region += QRect(left, from, width, to - from);
    }
    return region;
}

void LineListView::updateGeometries() {
    if (m_inGeometryUpdate)
        return;
    m_inGeometryUpdate = true;
    int headerHeight = 0;
    if (!m_header->isHidden()) {
        headerHeight = std::max(m_header->minimumHeight(), m_header->sizeHint().height());
        headerHeight = std::min(headerHeight, m_header->maximumHeight());
    }
    setViewportMargins(0, headerHeight, 0, 0);
    const QRect place = viewport()->geometry();
    m_header->setGeometry(place.left(), place.top() - headerHeight, place.width(), headerHeight);
    QMetaObject::invokeMethod(m_header, "updateGeometries");

    // By pixels, for smooth scrolling: ten million rows of a few dozen pixels stay far
    // inside an int; a longer list scrolls as far as an int reaches.
    const QSize size = viewport()->size();
    const qint64 rows = model() ? model()->rowCount(rootIndex()) : 0;
    const qint64 length = std::min<qint64>(rows * m_rowHeight, INT_MAX);
    verticalScrollBar()->setSingleStep(m_rowHeight);
    verticalScrollBar()->setPageStep(size.height());
    verticalScrollBar()->setRange(0, int(std::max<qint64>(0, length - size.height())));
    horizontalScrollBar()->setSingleStep(m_rowHeight);
    horizontalScrollBar()->setPageStep(size.width());
    horizontalScrollBar()->setRange(0, std::max(0, m_header->length() - size.width()));
    m_inGeometryUpdate = false;
    QAbstractItemView::updateGeometries();
}

void LineListView::scrollContentsBy(int dx, int dy) {
    if (dx != 0)
        m_header->setOffset(horizontalScrollBar()->value());
    QAbstractItemView::scrollContentsBy(dx, dy);
}

void LineListView::initViewItemOption(QStyleOptionViewItem* option) const {
    QAbstractItemView::initViewItemOption(option);
    // A selected line is highlighted whole, as in a table.
    option->showDecorationSelected = true;
}

int LineListView::sizeHintForColumn(int column) const {
    if (!model() || column != 0)
        return -1;
    // The rows in view, as a table measures: measuring all would read every line.
    const int rows = model()->rowCount(rootIndex());
    const qint64 first = std::max<qint64>(0, rowAtY(0));
    const qint64 last = std::min<qint64>(rows - 1, rowAtY(viewport()->height() - 1));
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int hint = 0;
    for (qint64 row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(int(row), 0, rootIndex());
        hint = std::max(hint, itemDelegateForIndex(index)->sizeHint(option, index).width());
    }
    return hint;
}

void LineListView::fitColumn() {
    m_header->resizeSection(0, std::max(sizeHintForColumn(0), m_header->sectionSizeHint(0)));
}

void LineListView::paintEvent(QPaintEvent* event) {
    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    const QRect area = event->rect();
    const qint64 first = std::max<qint64>(0, rowAtY(area.top()));
    const qint64 last = std::min<qint64>(rows - 1, rowAtY(area.bottom()));
    if (first <= last) {
        QPainter painter(viewport());
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        const QModelIndex current = currentIndex();
        const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
        for (qint64 row = first; row <= last; ++row) {
            const QModelIndex index = model()->index(int(row), 0, rootIndex());
            QStyleOptionViewItem cell = option;
            cell.rect = visualRect(index);
            if (!cell.rect.intersects(area))
                continue;
            if (selectionModel() && selectionModel()->isSelected(index))
                cell.state |= QStyle::State_Selected;
            if (alternatingRowColors() && row % 2 == 1)
                cell.features |= QStyleOptionViewItem::Alternate;
            // As a table draws its cells: in the active colours unless the item is disabled.
            if (option.state & QStyle::State_Enabled) {
                const bool enabled = model()->flags(index) & Qt::ItemIsEnabled;
                if (!enabled)
                    cell.state &= ~QStyle::State_Enabled;
                cell.palette.setCurrentColorGroup(enabled ? QPalette::Normal : QPalette::Disabled);
            }
            if (focus && index == current)
                cell.state |= QStyle::State_HasFocus;
            style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &cell, &painter, this);
            itemDelegateForIndex(index)->paint(&painter, cell, index);
        }
    }
    // A list without rows draws no focus of its own; the first start would hide where
    // the keyboard is.
    if (!hasFocus() || (model() && model()->rowCount() > 0))
        return;
    QStylePainter painter(viewport());
    QStyleOptionFocusRect focus;
    focus.initFrom(viewport());
    focus.rect = viewport()->rect().adjusted(1, 1, -1, -1);
    focus.backgroundColor = palette().color(QPalette::Base);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
}

} // namespace varnel
