#include "linelistmodel.h"

#include "core/eventpump.h"
#include "core/failure.h"
#include "resultlinks.h"

#include <QScopeGuard>

#include <algorithm>
#include <utility>

namespace varnel {

namespace {

// With a pump, rows are announced this many at a time, a turn between pieces. The views
// keep nothing per row, so telling them of two million rows takes about a millisecond; each
// turn repaints the window, which takes longer than that.
constexpr size_t ShowPiece = 2000000;

// A view lays out the whole text of every row it paints: a line of a hundred million
// characters would hold the window for minutes on each paint. No screen shows more than
// this many characters of a row; the rest is marked with an ellipsis.
constexpr qsizetype DisplayLength = 2048;

} // namespace

LineListModel::LineListModel(QObject* parent)
    : QAbstractListModel(parent) {}

LineListModel::~LineListModel() = default;

void LineListModel::checkPosition(qsizetype position) const {
    if (position < 1 || position > count())
        throw failures::indexOutOfBounds();
}

QString LineListModel::text(qsizetype position) const {
    return textView(position).toString();
}

ListSnapshot LineListModel::snapshot() const {
    // The buffers' list and the rows are shared, not copied: this costs the same for ten
    // million lines as for one. Rows not yet shown to the views are not the list's yet.
    return ListSnapshot(m_lines.storage(), m_lines.entries().sharedLines(), count(),
                        m_headers.value(0));
}

void LineListModel::append(const QString& text) {
    insertEntries(LineEntries({m_lines.storage().store(text)}));
}

void LineListModel::appendBatch(const QStringList& texts) {
    insertEntries(m_lines.store(texts));
}

// The lines that come into a list with a text buffer of their own (a loaded file's, a batch
// of dropped paths'): the buffer is taken whole and each line is a span of it.

void LineListModel::appendLines(QString buffer, const std::vector<LineSpan>& spans) {
    insertEntries(m_lines.adopt(std::move(buffer), spans, m_arrangement.pump()));
}

void LineListModel::appendLatin1Lines(QByteArray buffer, const std::vector<LineSpan>& spans) {
    insertEntries(m_lines.adopt(std::move(buffer), spans, m_arrangement.pump()));
}

void LineListModel::appendLines(QString buffer, LinePlaces places) {
    insertEntries(m_lines.adopt(std::move(buffer), std::move(places), m_arrangement.pump()));
}

void LineListModel::appendLatin1Lines(QByteArray buffer, LinePlaces places) {
    insertEntries(m_lines.adopt(std::move(buffer), std::move(places), m_arrangement.pump()));
}

void LineListModel::appendFrom(const LineListModel& source,
                               const std::vector<qsizetype>& positions) {
    for (qsizetype p : positions)
        source.checkPosition(p);
    appendRowsOf(source, positions.size(),
                 [&positions](size_t i) { return size_t(positions[i] - 1); });
}

void LineListModel::appendAllFrom(const LineListModel& source) {
    appendRowsOf(source, size_t(source.count()), [](size_t i) { return i; });
}

template <typename RowOf>
void LineListModel::appendRowsOf(const LineListModel& source, size_t count, const RowOf& rowOf) {
    if (count == 0)
        return;
    // The source's lines are sorted where they are, before any entry is made: ten million
    // entries are made once, in their place.
    SortOrder order;
    if (m_sorted && count > 1)
        order =
            m_arrangement.order(count, [&](quint32 i) { return source.m_lines.text(rowOf(i)); });
    m_arrangement.acquiring(SortResource::Memory);
    if (&source != this) {
        // Once the source lets go of a buffer, what this list uses of it may be worth a copy.
        connect(&source, &LineListModel::buffersReleased, this,
                &LineListModel::copyOutOfReleasedBuffers, Qt::UniqueConnection);
    }
    LineEntries entries =
        m_lines.shareRows(source.m_lines, count, rowOf, order, m_arrangement.pump());
    // Gone before the views lay the rows out, which takes memory of its own.
    order = SortOrder();
    insertEntries(std::move(entries), true);
}

void LineListModel::insertEntries(LineEntries entries, bool inOrder) {
    if (entries.empty())
        return;
    // Put in order in place: nothing is asked for once the order is had.
    if (m_sorted && !inOrder && entries.size() > 1)
        entries.arrange(m_arrangement.order(m_lines, entries));
    if (!m_sorted || m_lines.empty()) {
        showInPieces(std::move(entries));
        return;
    }
    if (entries.size() > 1) {
        mergeIn(std::move(entries));
        return;
    }
    const size_t row = m_arrangement.placeOf(m_lines.storage().text(entries.line(0)), m_lines);
    beginInsertRows({}, int(row), int(row));
    m_lines.entries().insert(row, entries);
    endInsertRows();
    record(ListChange::removal(row, 1));
}

void LineListModel::mergeIn(LineEntries entries) {
    LineEntries merged = m_arrangement.merged(m_lines, entries);
    // Merging moves existing rows, so views start over.
    beginResetModel();
    LineEntries before = std::exchange(m_lines.entries(), std::move(merged));
    endResetModel();
    record(ListChange::replacement({}, std::move(before), m_sorted));
}

void LineListModel::showInPieces(LineEntries entries) {
    const size_t piece = m_arrangement.pump() ? ShowPiece : entries.size();
    const size_t before = m_lines.size();
    m_lines.entries().append(std::move(entries));
    m_unshown = m_lines.size() - before;
    // Should a turn between pieces end the command (the window closed), the rows not yet
    // announced are dropped: the list holds only what its views were told of.
    const auto unwind = qScopeGuard([this] {
        m_lines.entries().truncate(m_lines.size() - m_unshown);
        m_unshown = 0;
    });
    while (m_unshown > 0) {
        const auto first = int(count());
        const auto shown = std::min(piece, m_unshown);
        beginInsertRows({}, first, first + int(shown) - 1);
        m_unshown -= shown;
        endInsertRows();
        if (m_unshown > 0)
            m_arrangement.pump()->turnWithoutUserInput();
    }
    record(ListChange::removal(before, m_lines.size() - before));
}

void LineListModel::setText(qsizetype position, const QString& text) {
    checkPosition(position);
    const auto row = size_t(position - 1);
    m_lines.entries().lines()[row] = m_lines.storage().store(text);
    const QModelIndex changed = index(int(row));
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

void LineListModel::exchange(qsizetype first, qsizetype second) {
    checkPosition(first);
    checkPosition(second);
    if (first != second)
        exchangeRows(size_t(first - 1), size_t(second - 1));
}

void LineListModel::exchangeRows(size_t first, size_t second) {
    m_lines.entries().exchange(first, second);
    for (size_t row : {first, second}) {
        const QModelIndex changed = index(int(row));
        emit dataChanged(changed, changed, {Qt::DisplayRole});
    }
    emit itemsExchanged(qsizetype(first) + 1, qsizetype(second) + 1);
    record(ListChange::exchange(first, second));
}

void LineListModel::removeAt(qsizetype position) {
    checkPosition(position);
    const auto row = size_t(position - 1);
    beginRemoveRows({}, int(row), int(row));
    LineEntries removed = m_lines.entries().take(row, 1);
    endRemoveRows();
    record(ListChange::insertion(row, std::move(removed)));
}

void LineListModel::clear() {
    if (m_lines.empty() && m_lines.storage().isEmpty())
        return;
    beginResetModel();
    LineEntries entries = std::exchange(m_lines.entries(), LineEntries());
    m_unshown = 0;
    LineStorage storage = std::exchange(m_lines.storage(), LineStorage());
    endResetModel();
    // Kept whole, not copied: taking a clear back costs nothing.
    record(ListChange::replacement(std::move(storage), std::move(entries), m_sorted));
    emit buffersReleased();
}

void LineListModel::setSorted(bool sorted) {
    if (sorted == m_sorted)
        return;
    // Sorted mode only once the lines are in order: later lines are placed by it.
    if (sorted && m_lines.size() > 1)
        sortAll();
    record(ListChange::sortedMode(std::exchange(m_sorted, sorted)));
}

void LineListModel::sortAll() {
    emit layoutAboutToBeChanged();
    // Views hear that the layout is settled again also when the sort fails.
    const auto settled = qScopeGuard([this] { emit layoutChanged(); });
    SortOrder order = m_arrangement.order(m_lines, m_lines.entries());
    m_arrangement.acquiring(SortResource::Memory);
    LineEntries sorted = m_lines.entries();
    // Every persistent index (a view's selection) follows its line.
    const QModelIndexList persistent = persistentIndexList();
    QModelIndexList after;
    if (!persistent.isEmpty()) {
        std::vector<int> newRow(order.size());
        for (size_t i = 0; i < order.size(); ++i)
            newRow[order[i]] = int(i);
        after.reserve(persistent.size());
        for (const QModelIndex& idx : persistent)
            after.append(index(newRow[size_t(idx.row())]));
    }
    sorted.arrange(std::move(order));
    LineEntries before = std::exchange(m_lines.entries(), std::move(sorted));
    changePersistentIndexList(persistent, after);
    record(ListChange::replacement({}, std::move(before), m_sorted));
}

void LineListModel::copyOutOfReleasedBuffers() {
    // Recorded rows point into the buffers, which copying out lets go of.
    if (m_arrangement.isSorting() || m_recorder)
        return;
    m_lines.leaveReleasedBuffers();
}

void LineListModel::record(ListChange change) {
    if (m_recorder)
        m_recorder->record(*this, std::move(change));
}

void LineListModel::apply(ListChange change) {
    using Kind = ListChange::Kind;
    LineEntries& entries = m_lines.entries();
    switch (change.kind) {
    case Kind::Insert: {
        const size_t row = change.first;
        const size_t n = change.entries.size();
        if (row > size_t(count()) || n == 0)
            throw failures::indexOutOfBounds();
        beginInsertRows({}, int(row), int(row + n - 1));
        // The whole list back (a load or "Show Correct Order" redone) takes no copy.
        if (entries.empty())
            entries = std::move(change.entries);
        else
            entries.insert(row, change.entries);
        endInsertRows();
        record(ListChange::removal(row, n));
        break;
    }
    case Kind::Remove: {
        const size_t row = change.first;
        const size_t n = change.second;
        if (n < 1 || row + n > size_t(count()))
            throw failures::indexOutOfBounds();
        beginRemoveRows({}, int(row), int(row + n - 1));
        LineEntries removed = entries.take(row, n);
        endRemoveRows();
        record(ListChange::insertion(row, std::move(removed)));
        break;
    }
    case Kind::Exchange:
        if (change.first >= size_t(count()) || change.second >= size_t(count()))
            throw failures::indexOutOfBounds();
        if (change.first != change.second)
            exchangeRows(change.first, change.second);
        break;
    case Kind::Links: {
        if (!change.allLinks.empty()) {
            if (change.allLinks.size() != entries.size())
                throw failures::indexOutOfBounds();
            std::swap(entries.links(), change.allLinks);
        }
        for (auto& [row, link] : change.rowLinks) {
            if (row >= entries.size())
                throw failures::indexOutOfBounds();
            const quint32 before = entries.link(row);
            entries.setLink(row, link);
            link = before;
        }
        // Tooltips and the way results are drawn follow the links.
        if (!entries.empty())
            emit dataChanged(index(0), index(int(count() - 1)));
        record(std::move(change));
        break;
    }
    case Kind::Replace:
        beginResetModel();
        if (change.withStorage)
            std::swap(m_lines.storage(), change.storage);
        std::swap(entries, change.entries);
        std::swap(m_sorted, change.sorted);
        m_unshown = 0;
        endResetModel();
        record(std::move(change));
        break;
    case Kind::Sorted:
        std::swap(m_sorted, change.sorted);
        record(std::move(change));
        break;
    }
}

void LineListModel::addColumnHeader(const QString& caption) {
    m_headers.append(caption);
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

QString LineListModel::columnCaption(qsizetype column) const {
    if (column != 1)
        throw failures::indexOutOfBounds();
    return m_headers.value(0);
}

QString LineListModel::cell(qsizetype item, qsizetype column) const {
    if (column != 1)
        throw failures::indexOutOfBounds();
    return text(item);
}

int LineListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(count());
}

QVariant LineListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const auto row = size_t(index.row());
    if (role == Qt::DisplayRole) {
        const LineText text = m_lines.text(row);
        if (text.size() <= DisplayLength)
            return text.toString();
        // A character of two units (a surrogate pair) is cut before, not in half.
        const qsizetype shown =
            DisplayLength - (QChar::isHighSurrogate(text.at(DisplayLength - 1)) ? 1 : 0);
        return text.first(shown).toString() + QChar(0x2026);
    }
    const quint32 link = m_lines.entries().link(row);
    if ((role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole) && m_links && link != 0)
        return m_links->describe(link);
    if (role == LinkStateRole && m_links && link != 0)
        return int(m_links->state(link));
    return {};
}

QVariant LineListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole &&
        !m_headers.isEmpty())
        return m_headers.first();
    return {};
}

Qt::ItemFlags LineListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace varnel
