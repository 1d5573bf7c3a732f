#pragma once

#include "text/linespan.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <vector>

namespace varnel {

class LineListModel;

// Paths found between two turns of the window, each built once straight into one buffer
// that the list then takes whole: a string of its own for every path, copied once more
// into the list, cost a large drop more than reading its folders did. The buffer holds
// one byte a character until a path needs more.
class PathBatch {
public:
    // `prefix` is Latin-1 text, one byte a character; `name` is ASCII.
    void appendLatin1(QByteArrayView prefix, QByteArrayView name);
    void append(QStringView path);
    bool isEmpty() const { return m_spans.empty(); }
    // Appends the paths to `list` and starts again empty, even should the list fail.
    void handTo(LineListModel& list);

private:
    // Room for `size` more bytes at the end of the narrow text, which grows by doubling.
    char* narrowRoom(qsizetype size);
    void widen();
    void endPath(qsizetype start);

    QByteArray m_narrow;
    qsizetype m_used = 0; // of m_narrow's bytes
    QString m_wide;
    bool m_isWide = false;
    std::vector<LineSpan> m_spans;
};

} // namespace varnel
