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

namespace varnel {

namespace {

// A view lays out every row it hears of at once, about a million a tenth of a second; with
// a pump, rows are announced this many at a time.
constexpr size_t ShowPiece = 250000;

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
    insertEntries({{m_storage.store(text)}});
}

void LineListModel::appendBatch(const QStringList& texts) {
    std::vector<Entry> entries;
    entries.reserve(size_t(texts.size()));
    for (const QString& t : texts)
        entries.push_back({m_storage.store(t)});
    insertEntries(std::move(entries));
}

void LineListModel::appendLines(QString buffer, const std::vector<LineSpan>& spans) {
    appendSpans(std::move(buffer), spans);
}

void LineListModel::appendLatin1Lines(QByteArray buffer, const std::vector<LineSpan>& spans) {
    appendSpans(std::move(buffer), spans);
}

template <typename Buffer>
void LineListModel::appendSpans(Buffer buffer, const std::vector<LineSpan>& spans) {
    if (spans.empty())
        return;
    const qsizetype size = buffer.size();
    const auto chunk = quint32(m_storage.bufferCount());
    std::vector<Entry> entries;
    // Ten million entries take a tenth of a second and more: not on the window's thread.
    runAsideWhenLarge(spans.size(), [&] {
        for (const LineSpan& s : spans) {
            if (qsizetype(s.offset) + qsizetype(s.length) > size)
                throw failures::indexOutOfBounds();
        }
        entries.reserve(spans.size());
        prefault(entries.data(), qint64(spans.size() * sizeof(Entry)));
        for (const LineSpan& s : spans)
            entries.push_back({{chunk, s.offset, s.length}});
    });
    // A buffer another command added meanwhile takes the number first.
    if (const quint32 added = m_storage.addBuffer(std::move(buffer)); added != chunk) {
        for (Entry& entry : entries)
            entry.line.chunk = added;
    }
    insertEntries(std::move(entries));
}

void LineListModel::appendFrom(const LineListModel& source,
                               const std::vector<qsizetype>& positions) {
    for (qsizetype p : positions)
        source.checkPosition(p);
    std::vector<Entry> entries;
    entries.reserve(positions.size());
    for (qsizetype p : positions)
        entries.push_back({source.m_entries[size_t(p - 1)].line, quint32(p)});
    insertEntries(adopt(source, std::move(entries)));
}

void LineListModel::appendAllFrom(const LineListModel& source) {
    std::vector<Entry> entries;
    // A fresh copy of ten million lines costs a tenth of a second in page faults alone.
    runAsideWhenLarge(source.m_entries.size(), [&] {
        entries = source.m_entries;
        for (size_t i = 0; i < entries.size(); ++i)
            entries[i].link = quint32(i + 1);
    });
    insertEntries(adopt(source, std::move(entries)));
}

std::vector<LineListModel::Entry> LineListModel::adopt(const LineListModel& source,
                                                       std::vector<Entry> entries) {
    if (&source == this)
        return entries;
    // Once the source lets go of a buffer, what this list uses of it may be worth a copy.
    connect(&source, &LineListModel::buffersReleased, this,
            &LineListModel::copyOutOfReleasedBuffers, Qt::UniqueConnection);
    // Each of the source's buffers is shared once, however many lines point into it.
    std::vector<qint64> shared(size_t(source.m_storage.bufferCount()), -1);
    for (Entry& entry : entries) {
        qint64& chunk = shared[entry.line.chunk];
        if (chunk < 0)
            chunk = m_storage.share(source.m_storage, entry.line.chunk);
        entry.line.chunk = quint32(chunk);
    }
    return entries;
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

std::vector<quint32> LineListModel::collatedOrder(const std::vector<Entry>& entries) const {
    LineSort sort;
    sort.setBeforeAcquiring(m_beforeAcquiring);
    if (m_pump)
        sort.setStopFlag(&m_pump->stopRequested());
    std::vector<quint32> order;
    // The buffers stay as they are while a sort aside reads them.
    m_sorting = true;
    m_runningSort = &sort;
    const auto sorted = qScopeGuard([this] {
        m_sorting = false;
        m_runningSort = nullptr;
    });
    runAsideWhenLarge(entries.size(), [&] {
        order = sort.order(entries.size(), [&](quint32 i) { return textOf(entries[i]); });
    });
    return order;
}

std::vector<LineListModel::Entry> LineListModel::arranged(const std::vector<Entry>& entries,
                                                          const std::vector<quint32>& order) const {
    acquiring(SortResource::Memory);
    std::vector<Entry> result;
    // Ten million entries take a tenth of a second in page faults alone: not on the
    // window's thread.
    runAsideWhenLarge(entries.size(), [&] {
        result.reserve(entries.size());
        for (quint32 i : order)
            result.push_back(entries[i]);
    });
    return result;
}

void LineListModel::insertEntries(std::vector<Entry> entries) {
    if (entries.empty())
        return;
    if (!m_sorted || (m_entries.empty() && entries.size() > 1)) {
        if (m_sorted)
            entries = arranged(entries, collatedOrder(entries));
        showInPieces(std::move(entries));
        return;
    }
    if (entries.size() > 1) {
        mergeIn(arranged(entries, collatedOrder(entries)));
        return;
    }
    CollatedComparison compare(collator());
    // After every equal line, so equal lines keep their arrival order.
    const auto at = std::upper_bound(m_entries.begin(), m_entries.end(), entries.front(),
                                     [this, &compare](const Entry& a, const Entry& b) {
                                         return compare(textOf(a), textOf(b)) < 0;
                                     });
    const auto row = int(at - m_entries.begin());
    beginInsertRows({}, row, row);
    m_entries.insert(at, entries.front());
    endInsertRows();
    Change added;
    added.kind = Change::Kind::Remove;
    added.first = row;
    added.second = 1;
    record(std::move(added));
}

void LineListModel::mergeIn(std::vector<Entry> entries) {
    CollatedComparison compare(collator());
    acquiring(SortResource::Memory);
    std::vector<Entry> merged;
    merged.reserve(m_entries.size() + entries.size());
    // On equal lines std::merge takes the first range's first: the lines already listed.
    std::merge(m_entries.begin(), m_entries.end(), entries.begin(), entries.end(),
               std::back_inserter(merged), [this, &compare](const Entry& a, const Entry& b) {
                   return compare(textOf(a), textOf(b)) < 0;
               });
    // Merging moves existing rows, so views start over.
    beginResetModel();
    std::vector<Entry> before = std::exchange(m_entries, std::move(merged));
    endResetModel();
    recordReplacement({}, std::move(before), m_sorted);
}

void LineListModel::showInPieces(std::vector<Entry> entries) {
    const size_t piece = m_pump ? ShowPiece : entries.size();
    const size_t before = m_entries.size();
    if (m_entries.empty())
        m_entries = std::move(entries);
    else
        m_entries.insert(m_entries.end(), entries.begin(), entries.end());
    m_unshown = m_entries.size() - before;
    // Should a turn between pieces end the command (the window closed), the rows not yet
    // announced are dropped: the list holds only what its views were told of.
    const auto unwind = qScopeGuard([this] {
        m_entries.resize(m_entries.size() - m_unshown);
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
    Entry& entry = m_entries[size_t(position - 1)];
    entry.line = m_storage.store(text);
    const QModelIndex changed = index(int(position - 1));
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

void LineListModel::exchange(qsizetype first, qsizetype second) {
    checkPosition(first);
    checkPosition(second);
    if (first == second)
        return;
    std::swap(m_entries[size_t(first - 1)], m_entries[size_t(second - 1)]);
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
    removed.entries.push_back(m_entries[size_t(position - 1)]);
    m_entries.erase(m_entries.begin() + (position - 1));
    endRemoveRows();
    record(std::move(removed));
}

void LineListModel::clear() {
    if (m_entries.empty() && m_storage.isEmpty())
        return;
    beginResetModel();
    std::vector<Entry> entries = std::exchange(m_entries, std::vector<Entry>());
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
    const std::vector<quint32> order = collatedOrder(m_entries);
    std::vector<Entry> sorted = arranged(m_entries, order);
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
    std::vector<Entry> before = std::exchange(m_entries, std::move(sorted));
    changePersistentIndexList(persistent, after);
    recordReplacement({}, std::move(before), m_sorted);
}

void LineListModel::copyOutOfReleasedBuffers() {
    // Recorded rows point into the buffers by number, which copying out would change.
    if (m_sorting || m_recorder)
        return;
    try {
        std::vector<qsizetype> used(size_t(m_storage.bufferCount()), 0);
        for (const Entry& entry : m_entries)
            used[entry.line.chunk] += entry.line.length;
        const std::vector<bool> drop = m_storage.buffersWorthLeaving(used);
        if (std::find(drop.begin(), drop.end(), true) == drop.end())
            return;
        std::vector<Entry> entries(m_entries);
        for (Entry& entry : entries)
            if (drop[entry.line.chunk])
                entry.line = m_storage.store(textOf(entry));
        const std::vector<quint32> newIndex = m_storage.dropBuffers(drop);
        for (Entry& entry : entries)
            entry.line.chunk = newIndex[entry.line.chunk];
        m_entries = std::move(entries);
    } catch (const std::bad_alloc&) {
        // The lines stay where they are: nothing is lost but the memory.
    }
}

} // namespace varnel
