#pragma once

#include <QObject>
#include <QTimer>

#include <optional>
#include <utility>
#include <vector>

namespace varnel {

class LineListModel;

// Where a list's out-of-order lines are (each line that sorts after the line below it), kept
// as one bit a line while the list changes: a removal, an exchange or an edit looks again at
// the pairs it touched; lines added or a list replaced are looked at a slice at a time
// between turns of the event loop, so ten million lines never hold the window. Asking for
// the parts of the list that hold one costs a pass over the bits, 64 lines a step.
class OrderMarks : public QObject {
    Q_OBJECT
public:
    explicit OrderMarks(LineListModel& list, QObject* parent = nullptr);

    // For `parts` equal parts of the list, top to bottom, whether each holds an out-of-order
    // line (of those looked at so far).
    std::vector<bool> parts(int parts) const;
    // For `parts` equal parts of the list, how many lines each holds and how many of them
    // are out of order: a full pass over the bits.
    std::vector<std::pair<qsizetype, qsizetype>> counts(int parts) const;
    // The first out-of-order line in part `part` of `parts`, counting from 1.
    std::optional<qsizetype> firstIn(int part, int parts) const;
    bool isSettled() const { return m_known >= m_count; }
    // Looks at every line not yet looked at, now.
    void settle();
    // While a command runs the lines not yet looked at wait: the marks share the window's
    // thread with the command, and would make a long one take about twice as long.
    void setPaused(bool paused);

signals:
    void changed();

private:
    bool bit(qsizetype i) const { return (m_bits[size_t(i >> 6)] >> (i & 63)) & 1; }
    void setBit(qsizetype i, bool on);
    // The 64 bits from bit i on, whatever its place in its word.
    quint64 wordAt(qsizetype i) const;
    // Pair i: line i+1 against line i+2 (from 0), when both are there and looked at.
    void look(qsizetype i);
    void lookFrom(qsizetype first, qsizetype last);
    void insertBits(qsizetype at, qsizetype count);
    void removeBits(qsizetype at, qsizetype count);
    void restart();
    void lookOnward();
    void resize(qsizetype count);
    std::optional<qsizetype> firstSet(qsizetype from, qsizetype to) const;
    std::pair<qsizetype, qsizetype> rangeOf(int part, int parts) const;

    LineListModel& m_list;
    std::vector<quint64> m_bits;
    qsizetype m_count = 0;
    // Pairs from 0 up to here have been looked at.
    qsizetype m_known = 0;
    QTimer m_onward;
    bool m_paused = false;
};

} // namespace varnel
