#pragma once

#include "columntable.h"
#include "lineentries.h"
#include "listchange.h"
#include "listlines.h"
#include "listsnapshot.h"
#include "order/linesort.h"
#include "order/linetext.h"
#include "sortedarrangement.h"
#include "text/linespan.h"

#include <QAbstractListModel>
#include <QStringList>

#include <functional>
#include <utility>
#include <vector>

namespace varnel {

class EventPump;
class ResultLinks;

// The one model behind both lists, as the views and the commands see it: positions from 1,
// rows announced as they change, every change told to a recorder. What it shows are its
// ListLines; in sorted mode a SortedArrangement keeps them in correct (collated) order after
// every append. A sort that fails (no memory, the window closed meanwhile) leaves the list as
// it was.
class LineListModel : public QAbstractListModel, public ColumnTable {
    Q_OBJECT
public:
    // The link of a result whose line was removed.
    static constexpr quint32 LostLink = 0xFFFFFFFF;
    // The data role that answers a linked item's LinkState, as an int.
    static constexpr int LinkStateRole = Qt::UserRole + 1;

    explicit LineListModel(QObject* parent = nullptr);
    ~LineListModel() override;

    qsizetype count() const { return qsizetype(m_lines.size() - m_unshown); }
    // Throws Failure "Index out of bounds" for a position outside 1..count().
    QString text(qsizetype position) const;
    void append(const QString& text);

    // The text without a copy; valid until this list next changes.
    LineText textView(qsizetype position) const {
        checkPosition(position);
        return m_lines.text(size_t(position - 1));
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
            if (!visit(position, m_lines.text(size_t(position - 1))))
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
        return m_lines.entries().link(size_t(position - 1));
    }
    // Gives every link the value `update` returns for it, in one pass.
    template <typename Update> void updateLinks(Update update) {
        // A list without links keeps none while every missing link stays 0.
        if (!m_lines.entries().hasLinks() && update(quint32(0)) == 0)
            return;
        std::vector<quint32>& links = m_lines.entries().links();
        // A lost link cannot be worked out again from the input's changes, unlike a shift.
        std::vector<std::pair<quint32, quint32>> lost;
        for (size_t i = 0; i < links.size(); ++i) {
            const quint32 before = std::exchange(links[i], update(links[i]));
            if (m_recorder && before != links[i] && (before == LostLink || links[i] == LostLink))
                lost.emplace_back(quint32(i), before);
        }
        if (!lost.empty())
            record(ListChange::links(std::move(lost), m_lines.size()));
    }
    // Items with a link answer the tooltip and accessible description roles with what
    // `links` says of it; none, without.
    void setLinks(const ResultLinks* links) { m_links = links; }
    // Memory the items' entries take, apart from their text.
    qsizetype entryBytes() const { return m_lines.entries().bytes(); }

    void setText(qsizetype position, const QString& text);
    // Swaps two items' texts without copying either.
    void exchange(qsizetype first, qsizetype second);
    void removeAt(qsizetype position);
    void clear();

    void setSorted(bool sorted);
    bool isSorted() const { return m_sorted; }

    // Every change from now on goes to `recorder` (none: nullptr). While one listens, this
    // list keeps the text buffers another list let go of, since recorded rows may use them.
    void setRecorder(ListChangeRecorder* recorder) { m_recorder = recorder; }
    // Does what `change` records; what takes it back goes to the recorder.
    void apply(ListChange change);

    // Characters held in this list's text buffers, its own and those it shares.
    qsizetype heldCharacters() const { return m_lines.storage().heldCharacters(); }

    // A test hook: runs before each request of a sort's or an arrangement's for memory or a
    // thread, and may throw as the request would (std::bad_alloc, std::system_error).
    void setBeforeAcquiring(std::function<void(SortResource)> hook) {
        m_arrangement.setBeforeAcquiring(std::move(hook));
    }
    // With a pump, large sorts (and the copies of large batches) run on a thread of its own
    // while the pump turns the event loop without user input, and the rows of a large batch
    // are shown in pieces with such turns between: the window goes on painting and no
    // command starts in between. The list changes only as each piece is shown.
    void setPump(EventPump* pump) { m_arrangement.setPump(pump); }
    // How far the sort of a batch into this list is, from 0 to 1; 0 when none runs.
    double sortProgress() const { return m_arrangement.progress(); }

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
    void record(ListChange change);
    void checkPosition(qsizetype position) const;
    // Appends `count` rows of `source`, the i-th of them its row rowOf(i).
    template <typename RowOf>
    void appendRowsOf(const LineListModel& source, size_t count, const RowOf& rowOf);
    // `inOrder`: in sorted mode, the entries are in order already.
    void insertEntries(LineEntries entries, bool inOrder = false);
    void mergeIn(LineEntries entries);
    void showInPieces(LineEntries entries);
    void exchangeRows(size_t first, size_t second);
    void sortAll();
    void copyOutOfReleasedBuffers();

    ListLines m_lines;
    SortedArrangement m_arrangement;
    QStringList m_headers;
    bool m_sorted = false;
    const ResultLinks* m_links = nullptr;
    ListChangeRecorder* m_recorder = nullptr;
    // While a large batch is shown in pieces, the rows at the end of m_lines that no view
    // has been told of yet. They count as the list's only once told, so should showing end
    // early (the window closed), they are taken off again.
    size_t m_unshown = 0;
};

} // namespace varnel
