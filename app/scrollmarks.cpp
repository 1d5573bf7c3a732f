#include "scrollmarks.h"

#include "linelistview.h"
#include "lists/ordermarks.h"

#include <QAbstractItemModel>
#include <QEvent>
#include <QHelpEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <cmath>

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

std::optional<qsizetype> ScrollMarks::lineNear(int y) const {
    for (int step = 0; step <= Reach; ++step) {
        for (int at : {y - step, y + step}) {
            if (const auto line = m_marks.firstIn(at, height()))
                return line;
        }
    }
    return std::nullopt;
}

bool ScrollMarks::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (const auto line = lineNear(help->pos().y())) {
            const QLocale locale;
            QToolTip::showText(help->globalPos(),
                               tr("Line %1 sorts after line %2: click to go there")
                                   .arg(locale.toString(*line), locale.toString(*line + 1)),
                               this);
            return true;
        }
    }
    return QWidget::event(event);
}

void ScrollMarks::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor highlight = palette().color(QPalette::Highlight);
    const auto counted = m_marks.counts(height());
    for (int y = 0; y < int(counted.size()); ++y) {
        const auto [lines, marked] = counted[size_t(y)];
        if (marked == 0 || lines == 0)
            continue;
        // Even one line among millions shows; a part all out of order shows in full.
        QColor tick = highlight;
        tick.setAlphaF(float(0.3 + 0.7 * std::sqrt(double(marked) / double(lines))));
        painter.setPen(tick);
        painter.drawLine(0, y, width() - 1, y);
    }
}

void ScrollMarks::mousePressEvent(QMouseEvent* event) {
    if (const auto line = lineNear(event->position().toPoint().y())) {
        // The line below first: the pair it was found in ends up in view.
        m_view->selectPosition(*line);
        m_view->revealPosition(*line + 1 <= m_view->model()->rowCount() ? *line + 1 : *line);
        m_view->revealPosition(*line);
    }
    event->accept();
}

} // namespace varnel
