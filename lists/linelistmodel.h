#pragma once

#include "lineentries.h"
#include "linelist.h"
#include "linestorage.h"
#include "listsnapshot.h"
#include "order/linesort.h"
#include "order/linetext.h"
#include "text/linespan.h"

#include <QAbstractListModel>
#include <QHash>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QCollator;

namespace varnel {

class EventPump;
class ResultLinks;

// The one model behind both lists: its entries, each a line of its LineStorage and the link
// it carries, in the order the list shows them (LineEntries). In sorted mode it keeps its lines in
// correct (collated) order after every append: a batch is put in order once, by the one collated
// sort, and merged in, not inserted line by line. A sort that fails (no memory, the window
// closed meanwhile) leaves the list as it was.
class LineListModel : public QAbstractListModel, public ColumnTable {
    Q_OBJECT
public:
    // The link of a result whose line was removed.
    static constexpr quint32 LostLink = 0xFFFFFFFF;
    // The data role that answers a linked item's LinkState, as an int.
    static constexpr int LinkStateRole = Qt::UserRole + 1;

    // One change of a list, as what takes it back: applying a Change undoes what it was
    // recorded for, and records what redoes it. Rows and texts go into it without a copy.
    class Change;
    // Hears of every change of the lists it is given to, at the moment it is done.
    class ChangeRecorder {
    public:
        virtual ~ChangeRecorder() = default;
        virtual void record(LineListModel& list, Change change) = 0;
    };

    explicit LineListModel(QObject* parent = nullptr);
    ~LineListModel() override;

    qsizetype count() const { return qsizetype(m_entries.size() - m_unshown); }
    // Throws Failure "Index out of bounds" for a position outside 1..count().
    QString text(qsizetype position) const;
    void append(const QString& text);

    // The text without a copy; valid until this list next changes.
    LineText textView(qsizetype position) const {
        checkPosition(position);
        return m_storage.text(m_entries.line(size_t(position - 1)));
    }

    // Calls visit(position, text) for each position from `first` to `last`, in order, until
    // it returns false, for a walk over many lines that checks the positions once. Throws
    // Failure "Index out of bounds" first, for any position outside 1..count().
    template <typename Visit> void visitTexts(qsizetype first, qsizetype last, Visit visit) const {
        if (first > last)
            return;
        checkPosition(first);
        checkPosition(last);
        for (qsizetype position = first; position <= last; ++position) {
            if (!visit(position, textOf(size_t(position - 1))))
                return;
        }
    }

    // The list as it is now, for a command that must finish with it whatever happens to the
    // list meanwhile; it copies neither the text nor the rows.
    ListSnapshot snapshot() const;

    void appendBatch(const QStringList& texts);
    // Takes `buffer` whole; each span is one line inside it.
    void appendLines(QString buffer, const std::vector<LineSpan>& spans);
    // The same for a buffer of Latin-1 text, one byte a character.
    void appendLatin1Lines(QByteArray buffer, const std::vector<LineSpan>& spans);
    // The same for lines whose places were made in the list's own form, taken over as they
    // are: a loaded file's.
    void appendLines(QString buffer, LinePlaces places);
    void appendLatin1Lines(QByteArray buffer, LinePlaces places);
    // Appends the lines at `positions` of `source` (which may be this list), sharing
    // their storage. Each new item's link is the position it came from. In sorted mode the
    // source's lines are put in order where they are, and the new entries made once, in that
    // order.
    void appendFrom(const LineListModel& source, const std::vector<qsizetype>& positions);
    void appendAllFrom(const LineListModel& source);

    // A number each item carries wherever it moves: the position in the list it was copied
    // from, or 0 for an item made any other way. ResultLinks keeps it up to date.
    quint32 link(qsizetype position) const {
        checkPosition(position);
        return m_entries.link(size_t(position - 1));
    }
    // Gives every link the value `update` returns for it, in one pass.
    template <typename Update> void updateLinks(Update update) {
        // A list without links keeps none while every missing link stays 0.
        if (!m_entries.hasLinks() && update(quint32(0)) == 0)
            return;
        std::vector<quint32>& links = m_entries.links();
        // A lost link cannot be worked out again from the input's changes, unlike a shift.
        std::vector<std::pair<quint32, quint32>> lost;
        for (size_t i = 0; i < links.size(); ++i) {
            const quint32 before = std::exchange(links[i], update(links[i]));
            if (m_recorder && before != links[i] && (before == LostLink || links[i] == LostLink))
                lost.emplace_back(quint32(i), before);
        }
        if (!lost.empty())
            recordLinks(std::move(lost));
    }
    // Items with a link answer the tooltip and accessible description roles with what
    // `links` says of it; none, without.
    void setLinks(const ResultLinks* links) { m_links = links; }
    // Memory the items' entries take, apart from their text.
    qsizetype entryBytes() const { return m_entries.bytes(); }

    void setText(qsizetype position, const QString& text);
    // Swaps two items' texts without copying either.
    void exchange(qsizetype first, qsizetype second);
    void removeAt(qsizetype position);
    void clear();

    void setSorted(bool sorted);
    bool isSorted() const { return m_sorted; }

    // Every change from now on goes to `recorder` (none: nullptr). While one listens, this
    // list keeps the text buffers another list let go of, since recorded rows may use them.
    void setRecorder(ChangeRecorder* recorder) { m_recorder = recorder; }
    // Does what `change` records; what takes it back goes to the recorder.
    void apply(Change change);

    // Characters held in this list's text buffers, its own and those it shares.
    qsizetype heldCharacters() const { return m_storage.heldCharacters(); }

    // A test hook: runs before each request of a sort's or an arrangement's for memory or a
    // thread, and may throw as the request would (std::bad_alloc, std::system_error).
    void setBeforeAcquiring(std::function<void(SortResource)> hook) {
        m_beforeAcquiring = std::move(hook);
    }
    // With a pump, large sorts (and the copies of large batches) run on a thread of its own
    // while the pump turns the event loop without user input, and the rows of a large batch
    // are shown in pieces with such turns between: the window goes on painting and no
    // command starts in between. The list changes only as each piece is shown.
    void setPump(EventPump* pump) { m_pump = pump; }
    // How far the sort of a batch into this list is, from 0 to 1; 0 when none runs.
    double sortProgress() const;

    void addColumnHeader(const QString& caption);

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
    void record(Change change);
    void recordLinks(std::vector<std::pair<quint32, quint32>> lost);
    // `storage` none: the entries are of the storage the list has.
    void recordReplacement(std::optional<LineStorage> storage, LineEntries entries, bool sorted);

    LineText textOf(size_t row) const { return m_storage.text(m_entries.line(row)); }
    void checkPosition(qsizetype position) const;
    template <typename Buffer> void appendSpans(Buffer buffer, const std::vector<LineSpan>& spans);
    template <typename Buffer> void appendPlaces(Buffer buffer, LinePlaces places);
    // Appends `count` rows of `source`, the i-th of them its row rowOf(i) (from 0).
    template <typename RowOf>
    void appendRowsOf(const LineListModel& source, size_t count, const RowOf& rowOf);
    // `inOrder`: in sorted mode, the entries are in order already.
    void insertEntries(LineEntries entries, bool inOrder = false);
    void mergeIn(LineEntries entries);
    void showInPieces(LineEntries entries);
    // Runs `work` through the pump's runAside when there are enough `items` to hold the
    // window noticeably; on this thread otherwise.
    void runAsideWhenLarge(size_t items, const std::function<void()>& work) const;
    // The collated order of `count` lines, `textOf(i)` giving line i's text.
    template <typename TextOf> SortOrder collatedOrder(size_t count, const TextOf& textOf) const;
    SortOrder collatedOrder(const LineStorage& storage, const LineEntries& entries) const;
    const QCollator& collator() const;
    void acquiring(SortResource what) const {
        if (m_beforeAcquiring)
            m_beforeAcquiring(what);
    }
    void sortAll();
    void copyOutOfReleasedBuffers();

    LineStorage m_storage;
    LineEntries m_entries;
    QStringList m_headers;
    bool m_sorted = false;
    mutable std::unique_ptr<QCollator> m_collator;
    std::function<void(SortResource)> m_beforeAcquiring;
    const ResultLinks* m_links = nullptr;
    EventPump* m_pump = nullptr;
    mutable const LineSort* m_runningSort = nullptr;
    ChangeRecorder* m_recorder = nullptr;
    mutable bool m_sorting = false;
    // While a large batch is shown in pieces, the entries at the end of m_entries that no
    // view has been told of yet. They count as the list's only once told, so should showing
    // end early (the window closed), they are taken off again.
    size_t m_unshown = 0;
};

class LineListModel::Change {
public:
    // Memory it holds, about.
    qsizetype bytes() const;

private:
    friend class LineListModel;
    enum class Kind { Insert, Remove, Exchange, Links, Replace, Sorted };
    Kind kind = Kind::Insert;
    // Insert and Remove: the first row (from 0) and the count; Exchange: the two positions.
    qsizetype first = 0;
    qsizetype second = 0;
    LineEntries entries;
    // Links: each (row, link) to set; or, when every row's changed, each row's link in
    // `allLinks`, which then takes the list's place without a pass over the rows.
    std::vector<std::pair<quint32, quint32>> links;
    std::vector<quint32> allLinks;
    // Replace: the whole list, its text buffers too when withStorage.
    LineStorage storage;
    bool withStorage = false;
    bool sorted = false;
};

} // namespace varnel
