#include "linelistaccess.h"

#include "linelistview.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QItemSelectionModel>
#include <QPersistentModelIndex>
#include <QPointer>

namespace varnel {
namespace {

class ListAccess;

// One line, made when a screen reader asks for it: at ten million lines none is made
// beforehand.
class LineAccess : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    LineAccess(LineListView* view, const QModelIndex& index)
        : m_view(view)
        , m_index(index) {}

    int row() const { return m_index.row(); }

    bool isValid() const override { return m_view && m_index.isValid(); }
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(m_view.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override {
        if (!isValid())
            return {};
        if (t == QAccessible::Description)
            return m_view->descriptionFor(m_index);
        if (t != QAccessible::Name && t != QAccessible::Value)
            return {};
        const QString name = m_index.data(Qt::AccessibleTextRole).toString();
        return name.isEmpty() ? m_index.data(Qt::DisplayRole).toString() : name;
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect place = m_view->visualRect(m_index);
        return QRect(m_view->viewport()->mapToGlobal(place.topLeft()), place.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.selectable = true;
        state.focusable = true;
        state.selected = isSelected();
        state.focused = m_view->hasFocus() && m_view->currentIndex() == m_index;
        state.invisible = !m_view->viewport()->rect().intersects(m_view->visualRect(m_index));
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TableCellInterface
                   ? static_cast<QAccessibleTableCellInterface*>(this)
                   : nullptr;
    }

    bool isSelected() const override {
        return isValid() && m_view->selectionModel() &&
               m_view->selectionModel()->isSelected(m_index);
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return 0; }
    int rowIndex() const override { return row(); }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

private:
    QPointer<LineListView> m_view;
    QPersistentModelIndex m_index;
};

class ListAccess : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit ListAccess(LineListView* view)
        : QAccessibleWidget(view, QAccessible::List) {}
    ~ListAccess() override { forgetLines(); }

    LineListView* view() const { return static_cast<LineListView*>(widget()); }
    int lines() const { return view()->model() ? view()->model()->rowCount() : 0; }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    int childCount() const override { return lines(); }
    QAccessibleInterface* child(int index) const override { return cellAt(index, 0); }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* line = child ? dynamic_cast<const LineAccess*>(child) : nullptr;
        return line && line->isValid() && line->table() == this ? line->row() : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint at = view()->viewport()->mapFromGlobal(QPoint(x, y));
        const QModelIndex index = view()->indexAt(at);
        return index.isValid() ? cellAt(index.row(), 0) : nullptr;
    }

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override {
        if (column != 0 || row < 0 || row >= lines())
            return nullptr;
        // A line made earlier follows its item when lines move: it is this row's no more,
        // but still its item's, under the row the item has now.
        if (const auto known = m_lines.constFind(row); known != m_lines.cend()) {
            const QAccessible::Id id = *known;
            auto* line = static_cast<LineAccess*>(QAccessible::accessibleInterface(id));
            if (line && line->isValid() && line->row() == row)
                return line;
            m_lines.erase(known);
            if (line && line->isValid() && !m_lines.contains(line->row()))
                m_lines.insert(line->row(), id);
            else
                QAccessible::deleteAccessibleInterface(id);
        }
        auto* line = new LineAccess(view(), view()->model()->index(row, 0));
        m_lines.insert(row, QAccessible::registerAccessibleInterface(line));
        return line;
    }
    int selectedCellCount() const override { return selectedRowCount(); }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        for (int row : selectedRows())
            cells.append(cellAt(row, 0));
        return cells;
    }
    QString columnDescription(int column) const override {
        return view()->model() ? view()->model()->headerData(column, Qt::Horizontal).toString()
                               : QString();
    }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return int(selectedRows().size()); }
    int columnCount() const override { return 1; }
    int rowCount() const override { return lines(); }
    QList<int> selectedColumns() const override { return {}; }
    // The list selects one line at most: this reads no more than that.
    QList<int> selectedRows() const override {
        QList<int> rows;
        if (const std::optional<qsizetype> at = view()->selectedPosition())
            rows.append(int(*at - 1));
        return rows;
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override {
        return view()->selectedPosition() == std::optional<qsizetype>(row + 1);
    }
    bool selectRow(int row) override {
        if (row < 0 || row >= lines())
            return false;
        view()->selectPosition(row + 1);
        return true;
    }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override {
        if (!isRowSelected(row))
            return false;
        view()->selectionModel()->clearSelection();
        return true;
    }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent*) override { forgetLines(); }

private:
    void forgetLines() {
        for (QAccessible::Id id : std::as_const(m_lines))
            QAccessible::deleteAccessibleInterface(id);
        m_lines.clear();
    }

    // Only the lines a screen reader asked for, by row.
    mutable QHash<int, QAccessible::Id> m_lines;
};

QAccessibleInterface* makeAccess(const QString& className, QObject* object) {
    // Asked of every widget's classes in turn, the most derived first.
    auto* view = qobject_cast<LineListView*>(object);
    if (!view || className != QLatin1String(LineListView::staticMetaObject.className()))
        return nullptr;
    return new ListAccess(view);
}

} // namespace

void installLineListAccess() {
    static const bool installed = [] {
        QAccessible::installFactory(makeAccess);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace varnel
