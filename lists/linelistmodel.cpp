#include "linelistmodel.h"

#include "app/failure.h"
#include "extract/correctorder.h"

#include <QCollator>

#include <algorithm>
#include <numeric>
#include <vector>

namespace varnel {

LineListModel::LineListModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

LineListModel::~LineListModel() = default;

void LineListModel::checkPosition(qsizetype position) const
{
    if (position < 1 || position > m_items.size())
        throw failures::indexOutOfBounds();
}

QString LineListModel::text(qsizetype position) const
{
    checkPosition(position);
    return m_items.at(position - 1);
}

const QCollator& LineListModel::collator() const
{
    if (!m_collator)
        m_collator = std::make_unique<QCollator>(makeCorrectOrderCollator());
    return *m_collator;
}

qsizetype LineListModel::sortedInsertPosition(const QString& text) const
{
    // After every item that compares equal, so equal texts keep their arrival order.
    const QCollator& c = collator();
    const auto it = std::upper_bound(m_items.cbegin(), m_items.cend(), text,
                                     [&c](const QString& a, const QString& b) {
                                         return c.compare(a, b) < 0;
                                     });
    return it - m_items.cbegin();
}

void LineListModel::append(const QString& text)
{
    const qsizetype row = m_sorted ? sortedInsertPosition(text) : m_items.size();
    beginInsertRows({}, int(row), int(row));
    m_items.insert(row, text);
    endInsertRows();
}

namespace {

// Indexes of `texts` in stable collated order, through sort keys: one key per text
// instead of a collation call per comparison.
std::vector<qsizetype> collatedOrder(const QStringList& texts, const QCollator& collator)
{
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(texts.size()));
    for (const QString& t : texts)
        keys.push_back(collator.sortKey(t));
    std::vector<qsizetype> order(size_t(texts.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&keys](qsizetype a, qsizetype b) {
        return keys[size_t(a)].compare(keys[size_t(b)]) < 0;
    });
    return order;
}

} // namespace

void LineListModel::appendBatch(QStringList texts)
{
    if (texts.isEmpty())
        return;
    if (!m_sorted) {
        const qsizetype first = m_items.size();
        beginInsertRows({}, int(first), int(first + texts.size() - 1));
        m_items.append(std::move(texts));
        endInsertRows();
        return;
    }
    const std::vector<qsizetype> order = collatedOrder(texts, collator());
    QStringList sorted;
    sorted.reserve(texts.size());
    for (qsizetype i : order)
        sorted.append(std::move(texts[i]));
    if (m_items.isEmpty()) {
        beginInsertRows({}, 0, int(sorted.size() - 1));
        m_items = std::move(sorted);
        endInsertRows();
        return;
    }
    // Merging moves existing rows, so views are told the layout changed.
    const QCollator& c = collator();
    QStringList merged;
    merged.reserve(m_items.size() + sorted.size());
    std::merge(std::make_move_iterator(m_items.begin()), std::make_move_iterator(m_items.end()),
               std::make_move_iterator(sorted.begin()), std::make_move_iterator(sorted.end()),
               std::back_inserter(merged),
               [&c](const QString& a, const QString& b) { return c.compare(a, b) < 0; });
    beginResetModel();
    m_items = std::move(merged);
    endResetModel();
}

void LineListModel::setText(qsizetype position, const QString& text)
{
    checkPosition(position);
    m_items[position - 1] = text;
    const QModelIndex changed = index(int(position - 1));
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

void LineListModel::exchange(qsizetype first, qsizetype second)
{
    checkPosition(first);
    checkPosition(second);
    if (first == second)
        return;
    m_items.swapItemsAt(first - 1, second - 1);
    for (qsizetype p : {first, second}) {
        const QModelIndex changed = index(int(p - 1));
        emit dataChanged(changed, changed, {Qt::DisplayRole});
    }
}

void LineListModel::removeAt(qsizetype position)
{
    checkPosition(position);
    beginRemoveRows({}, int(position - 1), int(position - 1));
    m_items.removeAt(position - 1);
    endRemoveRows();
}

void LineListModel::clear()
{
    if (m_items.isEmpty())
        return;
    beginResetModel();
    m_items = QStringList();
    endResetModel();
}

void LineListModel::setSorted(bool sorted)
{
    if (sorted == m_sorted)
        return;
    m_sorted = sorted;
    if (m_sorted && m_items.size() > 1)
        sortAll();
}

void LineListModel::sortAll()
{
    QStringList items = std::move(m_items);
    m_items = QStringList();
    const std::vector<qsizetype> order = collatedOrder(items, collator());
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    std::vector<int> newRow(size_t(items.size()));
    m_items.reserve(items.size());
    for (qsizetype i : order) {
        newRow[size_t(i)] = int(m_items.size());
        m_items.append(std::move(items[i]));
    }
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& idx : before)
        after.append(index(newRow[size_t(idx.row())]));
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

void LineListModel::addColumnHeader(const QString& caption)
{
    m_headers.append(caption);
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

QString LineListModel::columnCaption(qsizetype column) const
{
    if (column != 1)
        throw failures::indexOutOfBounds();
    return m_headers.value(0);
}

QString LineListModel::cell(qsizetype item, qsizetype column) const
{
    if (column != 1)
        throw failures::indexOutOfBounds();
    return text(item);
}

int LineListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant LineListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole)
        return m_items.at(index.row());
    return {};
}

QVariant LineListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole
        && !m_headers.isEmpty())
        return m_headers.first();
    return {};
}

Qt::ItemFlags LineListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace varnel
