#pragma once

#include <QWidget>

#include <optional>

namespace varnel {

class LineListView;
class OrderMarks;

// A narrow strip along the input list's right edge, beside its scroll bar: a tick for each
// pixel row whose part of the list holds an out-of-order line, the stronger the more of the
// part's lines are out of order, so that a list full of them reads as a density rather than
// a solid bar. A tick is a small target: a press or a rest of the pointer counts for the
// nearest tick within two rows. A click selects that part's first such line and scrolls so
// that it and the line below it are in view; resting on a tick names the line.
class ScrollMarks : public QWidget {
    Q_OBJECT
public:
    static constexpr int Width = 6;
    // How far from a tick, in rows each way, a press or a rest of the pointer still counts.
    static constexpr int Reach = 2;

    ScrollMarks(LineListView* view, OrderMarks& marks);

    // Which pixel rows have a tick, top to bottom.
    std::vector<bool> ticks() const;
    OrderMarks& marks() const { return m_marks; }
    // The line of the tick nearest to pixel row `y`, within reach; counting from 1.
    std::optional<qsizetype> lineNear(int y) const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();

    LineListView* m_view;
    OrderMarks& m_marks;
};

} // namespace varnel
