#pragma once

#include <QWidget>

namespace varnel {

class LineListView;
class OrderMarks;

// A narrow strip along the input list's right edge, beside its scroll bar: one tick for each
// pixel row whose part of the list holds an out-of-order line. A click on a tick selects
// that part's first such line and scrolls to it.
class ScrollMarks : public QWidget {
    Q_OBJECT
public:
    static constexpr int Width = 4;

    ScrollMarks(LineListView* view, OrderMarks& marks);

    // Which pixel rows have a tick, top to bottom.
    std::vector<bool> ticks() const;
    OrderMarks& marks() const { return m_marks; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();

    LineListView* m_view;
    OrderMarks& m_marks;
};

} // namespace varnel
