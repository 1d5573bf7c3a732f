#include "linelistview.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

namespace varnel {

LineListView::LineListView(QWidget* parent)
    : QTreeView(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false);
    setTextElideMode(Qt::ElideNone);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    setMouseTracking(true);
}

std::optional<qsizetype> LineListView::selectedPosition() const {
    if (!selectionModel())
        return std::nullopt;
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return qsizetype(rows.first().row()) + 1;
}

void LineListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    emit doubleClickedAnywhere();
}

void LineListView::mouseMoveEvent(QMouseEvent* event) {
    emit mouseMoved();
    QTreeView::mouseMoveEvent(event);
}

void LineListView::keyPressEvent(QKeyEvent* event) {
    // Delete acts whatever the modifiers; every other key is the view's own.
    if (event->key() == Qt::Key_Delete) {
        emit deletePressed();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

} // namespace varnel
