#pragma once

#include <QObject>
#include <QString>

#include <optional>

namespace varnel {

class LineListModel;

// Keeps each result's link to the input line it came from (the position the results list
// copied it from) pointing at that line while the input list changes: removals, exchanges
// and insertions move the links with their lines, a clear marks them all removed. Results
// answer their tooltip and accessible description from here, from the input as it is then.
class ResultLinks : public QObject {
    Q_OBJECT
public:
    ResultLinks(LineListModel& input, LineListModel& results, QObject* parent = nullptr);
    ~ResultLinks() override;

    // The input position the result at `resultPosition` leads to; none when its line was
    // removed or the result has no link.
    std::optional<qsizetype> inputPosition(qsizetype resultPosition) const;
    QString describe(quint32 link) const;

private:
    void rowsInserted(int first, int last);
    void rowsRemoved(int first, int last);
    void exchanged(qsizetype first, qsizetype second);
    void removeAll();

    LineListModel& m_input;
    LineListModel& m_results;
};

} // namespace varnel
