#pragma once

#include <QObject>
#include <QString>

#include <optional>

namespace varnel {

class LineListModel;

// Where a result's line stands now.
enum class LinkState {
    None,       // made without a link
    OutOfOrder, // its line still sorts after the line below it
    InOrder,    // the pair is in order now
    Removed,    // its line was removed
    Copy,       // a line of "Show Correct Order", which copies its line
};

// Keeps each result's link to the input line it came from (the position the results list
// copied it from) pointing at that line while the input list changes: removals, exchanges
// and insertions move the links with their lines, a clear marks them all removed. The
// results list answers its tooltip and accessible description roles with describe(), from
// the input as it is then.
class ResultLinks : public QObject {
    Q_OBJECT
public:
    ResultLinks(LineListModel& input, LineListModel& results, QObject* parent = nullptr);
    ~ResultLinks() override;

    // The input position the result at `resultPosition` leads to; none when its line was
    // removed or the result has no link.
    std::optional<qsizetype> inputPosition(qsizetype resultPosition) const;
    // What a result whose link is `link` (not 0) says of its line.
    QString describe(quint32 link) const;
    LinkState state(quint32 link) const;

private:
    void rowsInserted(int first, int last);
    void rowsRemoved(int first, int last);
    void exchanged(qsizetype first, qsizetype second);
    void removeAll();

    LineListModel& m_input;
    LineListModel& m_results;
};

} // namespace varnel
