#pragma once

#include "order/linetext.h"
#include "linelist.h"
#include "text/linespan.h"

#include <QAbstractListModel>
#include <QHash>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QCollator;

namespace varnel {

class EventPump;

// The one model behind both lists. Lines are kept as spans of a few large text buffers
// rather than as a string each: a million lines cost their characters and sixteen bytes
// more, a loaded file becomes one buffer without a copy per line, and a list that copies
// lines from another (the results) shares that list's buffers. A buffer holds one byte a
// character when all of its lines fit in Latin-1, as most lists do, and UTF-16 otherwise;
// a line typed or dropped goes into a buffer of the narrowest form it fits.
// In sorted mode it keeps its lines in correct (collated) order after every append;
// batches are sorted once, by comparing their texts, and merged, not inserted one by one.
// A sort that fails (no memory, no second thread) leaves the list as it was.
class LineListModel : public QAbstractListModel, public LineList, public ColumnTable {
    Q_OBJECT
public:
    using Span = LineSpan;

    explicit LineListModel(QObject* parent = nullptr);
    ~LineListModel() override;

    // LineList
    qsizetype count() const override { return qsizetype(m_refs.size() - m_unshown); }
    QString text(qsizetype position) const override;
    void append(const QString& text) override;

    // The text without a copy; valid until this list next changes.
    LineText textView(qsizetype position) const {
        if (position < 1 || position > count())
            throwIndexOutOfBounds();
        return view(m_refs[size_t(position - 1)]);
    }

    void appendBatch(const QStringList& texts);
    // Takes `buffer` whole; each span is one line inside it.
    void appendLines(QString buffer, const std::vector<Span>& spans);
    // The same for a buffer of Latin-1 text, one byte a character.
    void appendLatin1Lines(QByteArray buffer, const std::vector<Span>& spans);
    // Appends the lines at `positions` of `source` (which may be this list), sharing
    // their storage. Each new item's link is the position it came from.
    void appendFrom(const LineListModel& source, const std::vector<qsizetype>& positions);
    void appendAllFrom(const LineListModel& source);

    // A number each item carries wherever it moves, for the list it was copied from to
    // find it by; 0 for an item made any other way.
    quint32 link(qsizetype position) const {
        checkPosition(position);
        return m_refs[size_t(position - 1)].link;
    }
    // Gives every link the value `update` returns for it, in one pass.
    template <typename Update> void updateLinks(Update update) {
        for (Ref& ref : m_refs)
            ref.link = update(ref.link);
    }
    // Items with a link answer the tooltip and accessible description roles with what
    // `describe` says of the link.
    void setLinkDescriber(std::function<QString(quint32 link)> describe) {
        m_describeLink = std::move(describe);
    }
    // Memory the items' entries take, apart from their text.
    qsizetype entryBytes() const { return qsizetype(m_refs.capacity() * sizeof(Ref)); }

    void setText(qsizetype position, const QString& text);
    // Swaps two items' texts without copying either.
    void exchange(qsizetype first, qsizetype second);
    void removeAt(qsizetype position);
    void clear();

    void setSorted(bool sorted);
    bool isSorted() const { return m_sorted; }

    // Characters held in this list's text buffers, its own and those it shares.
    qsizetype heldCharacters() const;

    // What a sort may ask for and not get. A test hook runs before each request and may
    // throw as the request would (std::bad_alloc, std::system_error).
    enum class SortNeed { Memory, Thread };
    void setSortNeedHook(std::function<void(SortNeed)> hook) { m_sortNeedHook = std::move(hook); }
    // With a pump, large sorts (and the copies of large batches) run on a thread of its own
    // while the pump turns the event loop without user input, and the rows of a large batch
    // are shown in pieces with such turns between: the window goes on painting and no
    // command starts in between. The list changes only as each piece is shown.
    void setPump(EventPump* pump) { m_pump = pump; }

    void addColumnHeader(const QString& caption);
    qsizetype columnHeaderCount() const { return m_headers.size(); }

    // ColumnTable: one column, the item text; the caption is the header's.
    qsizetype itemCount() const override { return count(); }
    qsizetype columnCount() const override { return 1; }
    QString columnCaption(qsizetype column) const override;
    QString cell(qsizetype item, qsizetype column) const override;

    // QAbstractItemModel
    int rowCount(const QModelIndex& parent) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // After exchange(): rows moved without an insertion or removal.
    void itemsExchanged(qsizetype first, qsizetype second);
    // This list has let go of text buffers, which lists that share them may now own alone.
    void buffersReleased();

private:
    struct Ref {
        quint32 chunk;
        quint32 offset;
        quint32 length;
        quint32 link = 0;
    };

    // One text buffer, of either form.
    struct Chunk {
        QString wide;
        QByteArray narrow;
        bool isWide = false;
        qsizetype size() const { return isWide ? wide.size() : narrow.size(); }
        const void* address() const {
            return isWide ? static_cast<const void*>(wide.constData()) : narrow.constData();
        }
        bool isDetached() const { return isWide ? wide.isDetached() : narrow.isDetached(); }
    };

    LineText view(const Ref& ref) const {
        const Chunk& chunk = m_chunks.at(ref.chunk);
        if (chunk.isWide)
            return QStringView(chunk.wide).sliced(ref.offset, ref.length);
        return QLatin1StringView(chunk.narrow).sliced(ref.offset, ref.length);
    }
    void checkPosition(qsizetype position) const;
    [[noreturn]] static void throwIndexOutOfBounds();
    Ref store(LineText text);
    quint32 addChunk(Chunk chunk);
    template <typename Buffer> void appendSpans(Buffer buffer, const std::vector<Span>& spans);
    quint32 importChunk(const LineListModel& source, quint32 chunk);
    // `refs` point into the source's buffers; the result into this list's own.
    std::vector<Ref> adopt(const LineListModel& source, std::vector<Ref> refs);
    void insertRefs(std::vector<Ref> refs);
    void showInPieces(std::vector<Ref> refs);
    void runLong(size_t items, const std::function<void()>& work) const;
    std::vector<Ref> collatedOrder(std::vector<Ref> refs) const;
    template <typename Item, typename TextOf>
    void collatedSort(std::vector<Item>& items, TextOf textOf) const;
    template <typename Item, typename TextOf>
    void sortAroundMedian(std::vector<Item>& items, TextOf textOf, const QCollator& c) const;
    const QCollator& collator() const;
    void need(SortNeed what) const {
        if (m_sortNeedHook)
            m_sortNeedHook(what);
    }
    void sortAll();
    void copyOutOfReleasedBuffers();
    std::vector<bool> buffersWorthLeaving() const;
    // `refs` replace the list's; they point into no buffer that `drop` marks.
    void dropBuffers(std::vector<Ref> refs, std::vector<bool> drop);

    std::vector<Ref> m_refs;
    QList<Chunk> m_chunks;
    // The chunks that single lines are copied into, one of each form.
    qsizetype m_openNarrowChunk = -1;
    qsizetype m_openWideChunk = -1;
    QHash<const void*, quint32> m_chunkByBuffer;
    QStringList m_headers;
    bool m_sorted = false;
    mutable std::unique_ptr<QCollator> m_collator;
    std::function<void(SortNeed)> m_sortNeedHook;
    std::function<QString(quint32)> m_describeLink;
    EventPump* m_pump = nullptr;
    mutable bool m_sorting = false;
    // Rows at the end of m_refs that views have not heard of yet.
    size_t m_unshown = 0;
};

} // namespace varnel
