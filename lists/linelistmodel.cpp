#include "linelistmodel.h"

#include "core/eventpump.h"
#include "core/failure.h"
#include "core/memorypolicy.h"
#include "order/collation.h"

#include <QCollator>
#include <QScopeGuard>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <thread>
#include <type_traits>

namespace varnel {

namespace {

// Single lines are copied into buffers of this many characters; a longer line gets a
// buffer of its own.
constexpr qsizetype ChunkCapacity = 16 * 1024;

// A view lays out the whole text of every row it paints: a line of a hundred million
// characters would hold the window for minutes on each paint. No screen shows more than
// this many characters of a row; the rest is marked with an ellipsis.
constexpr qsizetype DisplayLength = 2048;

// Batches from this size on are sorted on two threads.
constexpr size_t TwoThreadSortSize = 20000;

// A view lays out every row it hears of at once, about a million a tenth of a second; with
// a pump, rows are announced this many at a time.
constexpr size_t ShowPiece = 250000;

// Asked on every comparison of a long sort: once the window has closed, the sort ends
// (with ProgramEnding) instead of finishing work nobody will see.
class StopPoll {
public:
    explicit StopPoll(const std::atomic<bool>* stop)
        : m_stop(stop) {}
    void operator()() {
        if (m_stop && (++m_asks & 0xFFF) == 0 && m_stop->load(std::memory_order_relaxed))
            throw ProgramEnding{};
    }

private:
    const std::atomic<bool>* m_stop;
    unsigned m_asks = 0;
};

template <typename Iterator, typename TextOf>
void sortCollated(Iterator first, Iterator last, TextOf& textOf, const QCollator& collator,
                  const std::atomic<bool>* stop = nullptr) {
    StopPoll poll(stop);
    CollatedComparison compare(collator);
    std::sort(first, last, [&textOf, &compare, &poll](const auto& a, const auto& b) {
        poll();
        return compare(textOf(a), textOf(b)) < 0;
    });
}

void checkBufferSize(qsizetype size) {
    // Spans address a buffer with 32-bit offsets.
    if (size > qsizetype(std::numeric_limits<quint32>::max()))
        throw failures::outOfMemory();
}

} // namespace

LineListModel::LineListModel(QObject* parent)
    : QAbstractListModel(parent) {}

LineListModel::~LineListModel() = default;

void LineListModel::checkPosition(qsizetype position) const {
    if (position < 1 || position > count())
        throwIndexOutOfBounds();
}

QString LineListModel::text(qsizetype position) const {
    return textView(position).toString();
}

void LineListModel::throwIndexOutOfBounds() {
    throw failures::indexOutOfBounds();
}

quint32 LineListModel::addChunk(Chunk chunk) {
    m_chunks.append(std::move(chunk));
    const auto index = quint32(m_chunks.size() - 1);
    m_chunkByBuffer.insert(m_chunks.last().address(), index);
    return index;
}

namespace {

// `text` as one byte a character; every unit of it is below U+0100.
void appendNarrowed(QByteArray& bytes, LineText text) {
    if (!text.isWide()) {
        bytes.append(text.narrow().data(), text.size());
        return;
    }
    const qsizetype from = bytes.size();
    bytes.resize(from + text.size());
    char* out = bytes.data() + from;
    for (const QChar c : text.wide())
        *out++ = char(c.unicode());
}

void appendWidened(QString& units, LineText text) {
    if (text.isWide()) {
        units.append(text.wide());
        return;
    }
    const qsizetype from = units.size();
    units.resize(from + text.size());
    widenLatin1(text.narrow(), reinterpret_cast<char16_t*>(units.data()) + from);
}

} // namespace

LineListModel::Ref LineListModel::store(LineText text) {
    checkBufferSize(text.size());
    const auto length = quint32(text.size());
    const bool wide = text.isWide() && !fitsLatin1(text.wide());
    const auto append = [&](Chunk& chunk) {
        if (wide)
            appendWidened(chunk.wide, text);
        else
            appendNarrowed(chunk.narrow, text);
    };
    if (text.size() > ChunkCapacity / 4) {
        Chunk own;
        own.isWide = wide;
        append(own);
        return {addChunk(std::move(own)), 0, length};
    }
    qsizetype& open = wide ? m_openWideChunk : m_openNarrowChunk;
    if (open < 0 || m_chunks[open].size() + text.size() > ChunkCapacity) {
        Chunk fresh;
        fresh.isWide = wide;
        if (wide)
            fresh.wide.reserve(ChunkCapacity);
        else
            fresh.narrow.reserve(ChunkCapacity);
        open = addChunk(std::move(fresh));
    }
    Chunk& chunk = m_chunks[open];
    // Appending may move the buffer (when it is shared with another list), so the
    // lookup by address is refreshed.
    const void* before = chunk.address();
    const auto offset = quint32(chunk.size());
    append(chunk);
    if (chunk.address() != before) {
        m_chunkByBuffer.remove(before);
        m_chunkByBuffer.insert(chunk.address(), quint32(open));
    }
    return {quint32(open), offset, length};
}

quint32 LineListModel::importChunk(const LineListModel& source, quint32 chunk) {
    const Chunk& buffer = source.m_chunks.at(chunk);
    const auto known = m_chunkByBuffer.constFind(buffer.address());
    if (known != m_chunkByBuffer.cend())
        return *known;
    return addChunk(buffer);
}

void LineListModel::append(const QString& text) {
    insertRefs({store(text)});
}

void LineListModel::appendBatch(const QStringList& texts) {
    std::vector<Ref> refs;
    refs.reserve(size_t(texts.size()));
    for (const QString& t : texts)
        refs.push_back(store(t));
    insertRefs(std::move(refs));
}

void LineListModel::appendLines(QString buffer, const std::vector<Span>& spans) {
    appendSpans(std::move(buffer), spans);
}

void LineListModel::appendLatin1Lines(QByteArray buffer, const std::vector<Span>& spans) {
    appendSpans(std::move(buffer), spans);
}

template <typename Buffer>
void LineListModel::appendSpans(Buffer buffer, const std::vector<Span>& spans) {
    if (spans.empty())
        return;
    checkBufferSize(buffer.size());
    for (const Span& s : spans) {
        if (qsizetype(s.offset) + qsizetype(s.length) > buffer.size())
            throw failures::indexOutOfBounds();
    }
    Chunk whole;
    whole.isWide = std::is_same_v<Buffer, QString>;
    if constexpr (std::is_same_v<Buffer, QString>)
        whole.wide = std::move(buffer);
    else
        whole.narrow = std::move(buffer);
    const quint32 chunk = addChunk(std::move(whole));
    std::vector<Ref> refs;
    refs.reserve(spans.size());
    prefault(refs.data(), qint64(spans.size() * sizeof(Ref)));
    for (const Span& s : spans)
        refs.push_back({chunk, s.offset, s.length});
    insertRefs(std::move(refs));
}

void LineListModel::appendFrom(const LineListModel& source,
                               const std::vector<qsizetype>& positions) {
    for (qsizetype p : positions)
        source.checkPosition(p);
    std::vector<Ref> refs;
    refs.reserve(positions.size());
    for (qsizetype p : positions) {
        refs.push_back(source.m_refs[size_t(p - 1)]);
        refs.back().link = quint32(p);
    }
    insertRefs(adopt(source, std::move(refs)));
}

void LineListModel::appendAllFrom(const LineListModel& source) {
    std::vector<Ref> refs;
    // A fresh copy of ten million lines costs a tenth of a second in page faults alone.
    runLong(source.m_refs.size(), [&] {
        refs = source.m_refs;
        for (size_t i = 0; i < refs.size(); ++i)
            refs[i].link = quint32(i + 1);
    });
    insertRefs(adopt(source, std::move(refs)));
}

std::vector<LineListModel::Ref> LineListModel::adopt(const LineListModel& source,
                                                     std::vector<Ref> refs) {
    if (&source == this)
        return refs;
    // Once the source lets go of a buffer, what this list uses of it may be worth a copy.
    connect(&source, &LineListModel::buffersReleased, this,
            &LineListModel::copyOutOfReleasedBuffers, Qt::UniqueConnection);
    // Each of the source's buffers is shared once, however many lines point into it.
    std::vector<qint64> imported(size_t(source.m_chunks.size()), -1);
    for (Ref& ref : refs) {
        qint64& chunk = imported[ref.chunk];
        if (chunk < 0)
            chunk = importChunk(source, ref.chunk);
        ref.chunk = quint32(chunk);
    }
    return refs;
}

const QCollator& LineListModel::collator() const {
    if (!m_collator)
        m_collator = std::make_unique<QCollator>(makeCorrectOrderCollator());
    return *m_collator;
}

template <typename Item, typename TextOf>
void LineListModel::collatedSort(std::vector<Item>& items, TextOf textOf) const {
    // A comparison sort in place, straight on the text: collation keys, or a merge, would
    // need memory on the scale of the lines themselves. Large batches are split around a
    // sampled median and the two parts sorted on two threads, each with a collator of its
    // own. Equal lines may end in either order; they read the same.
    // Whatever can fail is had before the first item moves, so a failure leaves them as
    // they were; without a second thread this one sorts both parts.
    const QCollator& c = collator();
    const auto sortRange = [&textOf](auto first, auto last, const QCollator& collator) {
        sortCollated(first, last, textOf, collator);
    };
    if (items.size() < TwoThreadSortSize) {
        sortRange(items.begin(), items.end(), c);
        return;
    }
    m_sorting = true;
    const auto sorted = qScopeGuard([this] { m_sorting = false; });
    runLong(items.size(), [&] { sortAroundMedian(items, textOf, c); });
}

template <typename Item, typename TextOf>
void LineListModel::sortAroundMedian(std::vector<Item>& items, TextOf textOf,
                                     const QCollator& c) const {
    const std::atomic<bool>* stop = m_pump ? &m_pump->stopRequested() : nullptr;
    const auto sortRange = [&textOf, stop](auto first, auto last, const QCollator& collator) {
        sortCollated(first, last, textOf, collator, stop);
    };
    need(SortNeed::Memory);
    std::vector<Item> sample;
    const size_t step = items.size() / 1001;
    for (size_t i = step / 2; i < items.size() && sample.size() < 1001; i += step)
        sample.push_back(items[i]);
    sortRange(sample.begin(), sample.end(), c);
    // Every line is compared with the pivot: it is widened once, not every time.
    const QString pivot = textOf(sample[sample.size() / 2]).toString();
    need(SortNeed::Memory);
    QCollator own = makeCorrectOrderCollator();

    StopPoll poll(stop);
    CollatedComparison compare(c);
    const auto middle = std::partition(items.begin(), items.end(), [&](const Item& item) {
        poll();
        return compare(textOf(item), pivot) < 0;
    });
    std::exception_ptr lowerFailure;
    std::thread lowerPart;
    try {
        need(SortNeed::Thread);
        lowerPart = std::thread([&, own = std::move(own)] {
            try {
                sortRange(items.begin(), middle, own);
            } catch (...) {
                lowerFailure = std::current_exception();
            }
        });
    } catch (const std::exception&) {
        sortRange(items.begin(), middle, c);
    }
    {
        // Joined however this part ends: the other part sorts the same vector.
        const auto joined = qScopeGuard([&lowerPart] {
            if (lowerPart.joinable())
                lowerPart.join();
        });
        sortRange(middle, items.end(), c);
    }
    if (lowerFailure)
        std::rethrow_exception(lowerFailure);
}

void LineListModel::runLong(size_t items, const std::function<void()>& work) const {
    if (m_pump && items >= TwoThreadSortSize)
        m_pump->runAside(work);
    else
        work();
}

std::vector<LineListModel::Ref> LineListModel::collatedOrder(std::vector<Ref> refs) const {
    collatedSort(refs, [this](const Ref& r) { return view(r); });
    return refs;
}

void LineListModel::insertRefs(std::vector<Ref> refs) {
    if (refs.empty())
        return;
    if (!m_sorted || (m_refs.empty() && refs.size() > 1)) {
        if (m_sorted)
            refs = collatedOrder(std::move(refs));
        showInPieces(std::move(refs));
        return;
    }
    CollatedComparison compare(collator());
    const auto before = [this, &compare](const Ref& a, const Ref& b) {
        return compare(view(a), view(b)) < 0;
    };
    if (refs.size() == 1) {
        // After every equal line, so equal lines keep their arrival order.
        const auto at = std::upper_bound(m_refs.begin(), m_refs.end(), refs.front(), before);
        const auto row = int(at - m_refs.begin());
        beginInsertRows({}, row, row);
        m_refs.insert(at, refs.front());
        endInsertRows();
        return;
    }
    refs = collatedOrder(std::move(refs));
    need(SortNeed::Memory);
    std::vector<Ref> merged;
    merged.reserve(m_refs.size() + refs.size());
    std::merge(m_refs.begin(), m_refs.end(), refs.begin(), refs.end(), std::back_inserter(merged),
               before);
    // Merging moves existing rows, so views start over.
    beginResetModel();
    m_refs = std::move(merged);
    endResetModel();
}

void LineListModel::showInPieces(std::vector<Ref> refs) {
    const size_t piece = m_pump ? ShowPiece : refs.size();
    const size_t before = m_refs.size();
    if (m_refs.empty())
        m_refs = std::move(refs);
    else
        m_refs.insert(m_refs.end(), refs.begin(), refs.end());
    m_unshown = m_refs.size() - before;
    // Rows no view has heard of are not the list's.
    const auto unwind = qScopeGuard([this] {
        m_refs.resize(m_refs.size() - m_unshown);
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
}

void LineListModel::setText(qsizetype position, const QString& text) {
    checkPosition(position);
    Ref& ref = m_refs[size_t(position - 1)];
    const quint32 link = ref.link;
    ref = store(text);
    ref.link = link;
    const QModelIndex changed = index(int(position - 1));
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

void LineListModel::exchange(qsizetype first, qsizetype second) {
    checkPosition(first);
    checkPosition(second);
    if (first == second)
        return;
    std::swap(m_refs[size_t(first - 1)], m_refs[size_t(second - 1)]);
    for (qsizetype p : {first, second}) {
        const QModelIndex changed = index(int(p - 1));
        emit dataChanged(changed, changed, {Qt::DisplayRole});
    }
    emit itemsExchanged(first, second);
}

void LineListModel::removeAt(qsizetype position) {
    checkPosition(position);
    beginRemoveRows({}, int(position - 1), int(position - 1));
    m_refs.erase(m_refs.begin() + (position - 1));
    endRemoveRows();
}

void LineListModel::clear() {
    if (m_refs.empty() && m_chunks.isEmpty())
        return;
    beginResetModel();
    m_refs = std::vector<Ref>();
    m_unshown = 0;
    m_chunks = QList<Chunk>();
    m_chunkByBuffer.clear();
    m_openNarrowChunk = m_openWideChunk = -1;
    endResetModel();
    emit buffersReleased();
}

void LineListModel::setSorted(bool sorted) {
    if (sorted == m_sorted)
        return;
    // Sorted mode only once the lines are in order: later lines are placed by it.
    if (sorted && m_refs.size() > 1)
        sortAll();
    m_sorted = sorted;
}

void LineListModel::sortAll() {
    emit layoutAboutToBeChanged();
    // Views hear that the layout is settled again also when the sort fails.
    const auto settled = qScopeGuard([this] { emit layoutChanged(); });
    const QModelIndexList persistent = persistentIndexList();
    // A sort aside leaves the rows the views read alone.
    if (persistent.isEmpty() && !m_pump) {
        collatedSort(m_refs, [this](const Ref& r) { return view(r); });
        return;
    }
    // Sort rows rather than lines, so every persistent index (a view's selection) can
    // follow its line. The list changes only once everything is in hand.
    need(SortNeed::Memory);
    std::vector<quint32> rows(m_refs.size());
    std::iota(rows.begin(), rows.end(), 0u);
    collatedSort(rows, [this](quint32 row) { return view(m_refs[row]); });
    need(SortNeed::Memory);
    std::vector<Ref> sorted(m_refs.size());
    std::vector<int> newRow(m_refs.size());
    QModelIndexList after;
    after.reserve(persistent.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        sorted[i] = m_refs[rows[i]];
        newRow[rows[i]] = int(i);
    }
    for (const QModelIndex& idx : persistent)
        after.append(index(newRow[size_t(idx.row())]));
    m_refs = std::move(sorted);
    changePersistentIndexList(persistent, after);
}

void LineListModel::copyOutOfReleasedBuffers() {
    // A sort aside reads the buffers; they are left as they are.
    if (m_sorting)
        return;
    try {
        std::vector<bool> drop = buffersWorthLeaving();
        if (std::find(drop.begin(), drop.end(), true) == drop.end())
            return;
        std::vector<Ref> refs(m_refs);
        for (Ref& ref : refs)
            if (drop[ref.chunk]) {
                const quint32 link = ref.link;
                ref = store(view(ref));
                ref.link = link;
            }
        dropBuffers(std::move(refs), std::move(drop));
    } catch (const std::bad_alloc&) {
        // The lines stay where they are: nothing is lost but the memory.
    }
}

std::vector<bool> LineListModel::buffersWorthLeaving() const {
    // A buffer nobody else holds any more, of which this list uses less than half (three
    // short results of a loaded gigabyte), is worth copying out of: the copy costs what is
    // used and frees the rest. The buffer single lines go into is this list's own already.
    std::vector<qsizetype> used(size_t(m_chunks.size()), 0);
    for (const Ref& ref : m_refs)
        used[ref.chunk] += ref.length;
    std::vector<bool> leave(used.size());
    for (qsizetype i = 0; i < m_chunks.size(); ++i) {
        const Chunk& chunk = m_chunks.at(i);
        const bool open = i == m_openNarrowChunk || i == m_openWideChunk;
        leave[size_t(i)] = !open && chunk.isDetached() && used[size_t(i)] < chunk.size() / 2;
    }
    return leave;
}

void LineListModel::dropBuffers(std::vector<Ref> refs, std::vector<bool> drop) {
    // Buffers added since `drop` was made stay.
    drop.resize(size_t(m_chunks.size()), false);
    std::vector<quint32> newIndex(drop.size());
    QList<Chunk> kept;
    QHash<const void*, quint32> byBuffer;
    for (size_t i = 0; i < drop.size(); ++i) {
        if (drop[i])
            continue;
        newIndex[i] = quint32(kept.size());
        kept.append(m_chunks.at(qsizetype(i)));
        byBuffer.insert(kept.last().address(), newIndex[i]);
    }
    for (Ref& ref : refs)
        ref.chunk = newIndex[ref.chunk];
    for (qsizetype* open : {&m_openNarrowChunk, &m_openWideChunk})
        *open = *open < 0 ? -1 : qsizetype(newIndex[size_t(*open)]);
    m_refs = std::move(refs);
    m_chunks = std::move(kept);
    m_chunkByBuffer = std::move(byBuffer);
}

qsizetype LineListModel::heldCharacters() const {
    qsizetype held = 0;
    for (const Chunk& chunk : m_chunks)
        held += chunk.size();
    return held;
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
    if (role == Qt::DisplayRole) {
        const LineText text = view(m_refs[size_t(index.row())]);
        if (text.size() <= DisplayLength)
            return text.toString();
        // Not between the halves of a pair.
        const qsizetype shown =
            DisplayLength - (QChar::isHighSurrogate(text.at(DisplayLength - 1)) ? 1 : 0);
        return text.first(shown).toString() + QChar(0x2026);
    }
    if ((role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole) && m_describeLink) {
        const quint32 link = m_refs[size_t(index.row())].link;
        if (link != 0)
            return m_describeLink(link);
    }
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
