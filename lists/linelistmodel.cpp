#include "linelistmodel.h"

#include "core/eventpump.h"
#include "core/failure.h"
#include "core/memorypolicy.h"
#include "order/collation.h"
#include "resultlinks.h"

#include <QCollator>
#include <QScopeGuard>

#include <algorithm>
#include <type_traits>
#include <utility>

namespace varnel {

namespace {

// With a pump, rows are announced this many at a time, a turn between pieces. The views
// keep nothing per row, so telling them of two million rows takes about a millisecond; each
// turn repaints the window, which takes longer than that.
constexpr size_t ShowPiece = 2000000;

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

void LineListModel::append(const QString& text) {
    insertEntries(LineEntries({m_storage.store(text)}));
}

void LineListModel::appendBatch(const QStringList& texts) {
    std::vector<StoredLine> lines;
    lines.reserve(size_t(texts.size()));
    for (const QString& t : texts)
        lines.push_back(m_storage.store(t));
    insertEntries(LineEntries(std::move(lines)));
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
        order = collatedOrder(count, [&](quint32 i) { return source.textOf(rowOf(i)); });
    acquiring(SortResource::Memory);
    if (&source != this) {
        // Once the source lets go of a buffer, what this list uses of it may be worth a copy.
        connect(&source, &LineListModel::buffersReleased, this,
                &LineListModel::copyOutOfReleasedBuffers, Qt::UniqueConnection);
    }
    const LineStorage::Sharing shared = m_storage.shareAll(source.m_storage);
    LineEntries entries;
    // Ten million entries take a tenth of a second in page faults alone: not on the
    // window's thread.
    runAsideWhenLarge(count, [&] {
        std::vector<StoredLine> lines;
        lines.reserve(count);
        prefault(lines.data(), qint64(count * sizeof(StoredLine)));
        // Each link is the position the line came from.
        std::vector<quint32> links(count);
        const bool ordered = !order.empty();
        for (size_t i = 0; i < count; ++i) {
            const size_t row = rowOf(ordered ? order[i] : i);
            lines.push_back(shared(source.m_entries.line(row)));
            links[i] = quint32(row + 1);
        }
        entries = LineEntries(std::move(lines), std::move(links));
    });
    // Gone before the views lay the rows out, which takes memory of its own.
    order = SortOrder();
    insertEntries(std::move(entries), true);
}

const QCollator& LineListModel::collator() const {
    if (!m_collator)
        m_collator = std::make_unique<QCollator>(makeCorrectOrderCollator());
    return *m_collator;
}

double LineListModel::sortProgress() const {
    return m_runningSort ? m_runningSort->progress() : 0.0;
}

void LineListModel::runAsideWhenLarge(size_t items, const std::function<void()>& work) const {
    if (m_pump && items >= LineSort::TwoThreadSize)
        m_pump->runAside(work);
    else
        work();
}

template <typename TextOf>
SortOrder LineListModel::collatedOrder(size_t count, const TextOf& textOf) const {
    LineSort sort;
    sort.setBeforeAcquiring(m_beforeAcquiring);
    if (m_pump)
        sort.setStopFlag(&m_pump->stopRequested());
    SortOrder order;
    // The buffers stay as they are while a sort aside reads them.
    m_sorting = true;
    m_runningSort = &sort;
    const auto sorted = qScopeGuard([this] {
        m_sorting = false;
        m_runningSort = nullptr;
    });
    runAsideWhenLarge(count, [&] { order = sort.order(count, textOf); });
    return order;
}

SortOrder LineListModel::collatedOrder(const LineStorage& storage,
                                       const LineEntries& entries) const {
    return collatedOrder(entries.size(), [&](quint32 i) { return storage.text(entries.line(i)); });
}

void LineListModel::insertEntries(LineEntries entries, bool inOrder) {
    if (entries.empty())
        return;
    // Put in order in place: nothing is asked for once the order is had.
    if (m_sorted && !inOrder && entries.size() > 1)
        entries.arrange(collatedOrder(m_storage, entries));
    if (!m_sorted || m_entries.empty()) {
        showInPieces(std::move(entries));
        return;
    }
    if (entries.size() > 1) {
        mergeIn(std::move(entries));
        return;
    }
    CollatedComparison compare(collator());
    const LineText text = m_storage.text(entries.line(0));
    // After every equal line, so equal lines keep their arrival order.
    const std::vector<StoredLine>& lines = std::as_const(m_entries).lines();
    const auto at = std::upper_bound(lines.begin(), lines.end(), text,
                                     [this, &compare](const LineText& a, StoredLine b) {
                                         return compare(a, m_storage.text(b)) < 0;
                                     });
    const auto row = size_t(at - lines.begin());
    beginInsertRows({}, int(row), int(row));
    m_entries.insert(row, entries);
    endInsertRows();
    Change added;
    added.kind = Change::Kind::Remove;
    added.first = qsizetype(row);
    added.second = 1;
    record(std::move(added));
}

void LineListModel::mergeIn(LineEntries entries) {
    CollatedComparison compare(collator());
    acquiring(SortResource::Memory);
    const size_t total = m_entries.size() + entries.size();
    const bool linked = m_entries.hasLinks() || entries.hasLinks();
    std::vector<StoredLine> lines;
    std::vector<quint32> links;
    lines.reserve(total);
    if (linked)
        links.reserve(total);
    const auto take = [&](const LineEntries& from, size_t& row) {
        lines.push_back(from.line(row));
        if (linked)
            links.push_back(from.link(row));
        ++row;
    };
    size_t listed = 0;
    size_t added = 0;
    // On equal lines the lines already listed come first.
    while (listed < m_entries.size() && added < entries.size()) {
        if (compare(textOf(listed), m_storage.text(entries.line(added))) > 0)
            take(entries, added);
        else
            take(m_entries, listed);
    }
    while (listed < m_entries.size())
        take(m_entries, listed);
    while (added < entries.size())
        take(entries, added);
    // Merging moves existing rows, so views start over.
    beginResetModel();
    LineEntries before = std::exchange(m_entries, LineEntries(std::move(lines), std::move(links)));
    endResetModel();
    recordReplacement({}, std::move(before), m_sorted);
}

void LineListModel::showInPieces(LineEntries entries) {
    const size_t piece = m_pump ? ShowPiece : entries.size();
    const size_t before = m_entries.size();
    m_entries.append(std::move(entries));
    m_unshown = m_entries.size() - before;
    // Should a turn between pieces end the command (the window closed), the rows not yet
    // announced are dropped: the list holds only what its views were told of.
    const auto unwind = qScopeGuard([this] {
        m_entries.truncate(m_entries.size() - m_unshown);
        m_unshown = 0;
    });
    while (m_unshown > 0) {
        const auto first = int(count());
        const auto shown = std::min(piece, m_unshown);
        beginInsertRows({}, first, first + int(shown) - 1);
        m_unshown -= shown;
        endInsertRows();
        if (m_unshown > 0)
            m_pump->turnWithoutUserInput();
    }
    Change added;
    added.kind = Change::Kind::Remove;
    added.first = qsizetype(before);
    added.second = qsizetype(m_entries.size() - before);
    record(std::move(added));
}

void LineListModel::setText(qsizetype position, const QString& text) {
    checkPosition(position);
    m_entries.lines()[size_t(position - 1)] = m_storage.store(text);
    const QModelIndex changed = index(int(position - 1));
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

void LineListModel::exchange(qsizetype first, qsizetype second) {
    checkPosition(first);
    checkPosition(second);
    if (first == second)
        return;
    m_entries.exchange(size_t(first - 1), size_t(second - 1));
    for (qsizetype p : {first, second}) {
        const QModelIndex changed = index(int(p - 1));
        emit dataChanged(changed, changed, {Qt::DisplayRole});
    }
    emit itemsExchanged(first, second);
    Change exchanged;
    exchanged.kind = Change::Kind::Exchange;
    exchanged.first = first;
    exchanged.second = second;
    record(std::move(exchanged));
}

void LineListModel::removeAt(qsizetype position) {
    checkPosition(position);
    beginRemoveRows({}, int(position - 1), int(position - 1));
    Change removed;
    removed.kind = Change::Kind::Insert;
    removed.first = position - 1;
    removed.entries = m_entries.take(size_t(position - 1), 1);
    endRemoveRows();
    record(std::move(removed));
}

void LineListModel::clear() {
    if (m_entries.empty() && m_storage.isEmpty())
        return;
    beginResetModel();
    LineEntries entries = std::exchange(m_entries, LineEntries());
    m_unshown = 0;
    LineStorage storage = std::exchange(m_storage, LineStorage());
    endResetModel();
    // Kept whole, not copied: taking a clear back costs nothing.
    recordReplacement(std::move(storage), std::move(entries), m_sorted);
    emit buffersReleased();
}

void LineListModel::setSorted(bool sorted) {
    if (sorted == m_sorted)
        return;
    // Sorted mode only once the lines are in order: later lines are placed by it.
    if (sorted && m_entries.size() > 1)
        sortAll();
    Change mode;
    mode.kind = Change::Kind::Sorted;
    mode.sorted = std::exchange(m_sorted, sorted);
    record(std::move(mode));
}

void LineListModel::sortAll() {
    emit layoutAboutToBeChanged();
    // Views hear that the layout is settled again also when the sort fails.
    const auto settled = qScopeGuard([this] { emit layoutChanged(); });
    SortOrder order = collatedOrder(m_storage, m_entries);
    acquiring(SortResource::Memory);
    LineEntries sorted = m_entries;
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
    LineEntries before = std::exchange(m_entries, std::move(sorted));
    changePersistentIndexList(persistent, after);
    recordReplacement({}, std::move(before), m_sorted);
}

void LineListModel::copyOutOfReleasedBuffers() {
    // Recorded rows point into the buffers, which copying out lets go of.
    if (m_sorting || m_recorder)
        return;
    try {
        std::vector<qsizetype> used(size_t(m_storage.bufferCount()), 0);
        for (StoredLine line : std::as_const(m_entries).lines())
            used[m_storage.bufferOf(line)] += m_storage.length(line);
        const std::vector<bool> drop = m_storage.buffersWorthLeaving(used);
        if (std::find(drop.begin(), drop.end(), true) == drop.end())
            return;
        std::vector<StoredLine> lines(std::as_const(m_entries).lines());
        for (StoredLine& line : lines)
            if (drop[m_storage.bufferOf(line)])
                line = m_storage.store(m_storage.text(line));
        // The other lines keep their places.
        m_storage.dropBuffers(drop);
        m_entries.lines() = std::move(lines);
    } catch (const std::bad_alloc&) {
        // The lines stay where they are: nothing is lost but the memory.
    }
}

} // namespace varnel
