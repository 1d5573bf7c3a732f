#include "scrollmarks.h"

#include "linelistview.h"
#include "lists/ordermarks.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

namespace varnel {

ScrollMarks::ScrollMarks(LineListView* view, OrderMarks& marks)
    : QWidget(view)
    , m_view(view)
    , m_marks(marks) {
    setObjectName(QStringLiteral("ScrollMarks"));
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setToolTip(tr("Lines out of order: click a mark to go there"));
    setAccessibleName(tr("Lines out of order"));
    view->installEventFilter(this);
    connect(&marks, &OrderMarks::changed, this, qOverload<>(&QWidget::update));
    place();
    show();
}

std::vector<bool> ScrollMarks::ticks() const {
    return m_marks.parts(height());
}

void ScrollMarks::place() {
    // Over the viewport's right edge, the scroll bar beside it.
    const QRect area = m_view->viewport()->geometry();
    setGeometry(area.right() + 1 - Width, area.top(), Width, area.height());
    raise();
}

bool ScrollMarks::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_view &&
        (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
        place();
    return QWidget::eventFilter(watched, event);
}

void ScrollMarks::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Highlight));
    const std::vector<bool> marked = ticks();
    for (int y = 0; y < int(marked.size()); ++y) {
        if (marked[size_t(y)])
            painter.drawLine(0, y, width() - 1, y);
    }
}

void ScrollMarks::mousePressEvent(QMouseEvent* event) {
    const int row = event->position().toPoint().y();
    // A tick is one pixel: a press on the rows beside it counts too.
    for (int y : {row, row - 1, row + 1}) {
        if (const auto line = m_marks.firstIn(y, height())) {
            m_view->selectPosition(*line);
            m_view->revealPosition(*line);
            break;
        }
    }
    event->accept();
}

} // namespace varnel
