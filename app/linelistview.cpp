#include "linelistview.h"

#include "focusring.h"
#include "linelistaccess.h"

#include "files/droppedpaths.h"

#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace varnel {

// At a fractional scale (1.5) the viewport, rounded outwards to whole device pixels, paints
// over the frame's right and bottom line. This draws the frame once more, above the viewport
// and the scroll bars; it takes no input and no focus. At whole scales the frame is whole
// already. Over the frame it rings the list while the list has the focus: a shaded row
// alone hardly shows where the keyboard is.
class FrameOverlay : public QWidget {
public:
    explicit FrameOverlay(LineListView* view)
        : QWidget(view)
        , m_view(view) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const qreal scale = devicePixelRatioF();
        if (scale != std::floor(scale))
            m_view->drawFrame(&painter);
        if (m_view->hasFocus())
            drawFocusRing(painter, rect(), m_view->palette());
    }

private:
    LineListView* m_view;
};

LineListView::LineListView(QWidget* parent)
    : QAbstractItemView(parent)
    , m_header(new QHeaderView(Qt::Horizontal, this))
    , m_rowHeight(lineHeight()) {
    // Tab moves on to the next control, as in any list.
    setTabKeyNavigation(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false);
    setTextElideMode(Qt::ElideNone);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_header->setStretchLastSection(false);
    m_header->setSectionsMovable(false);
    m_header->setSectionsClickable(false);
    m_header->setHighlightSections(false);
    m_header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_header->setSectionResizeMode(QHeaderView::Interactive);
    connect(m_header, &QHeaderView::sectionResized, this, [this] {
        updateGeometries();
        viewport()->update();
    });
    connect(m_header, &QHeaderView::sectionCountChanged, this, [this] { updateGeometries(); });
    connect(m_header, &QHeaderView::geometriesChanged, this, [this] { updateGeometries(); });
    connect(m_header, &QHeaderView::sectionHandleDoubleClicked, this, [this] { fitColumn(); });
    setMouseTracking(true);
    matchHeaderArea();
    m_frameOverlay = new FrameOverlay(this);
    installLineListAccess();
}

// The header outlives this part of the view: hidden as the widget goes, it still signals,
// and the view must not hear of it by then.
LineListView::~LineListView() {
    disconnect(m_header, nullptr, this, nullptr);
}

void LineListView::focusInEvent(QFocusEvent* event) {
    QAbstractItemView::focusInEvent(event);
    m_frameOverlay->update();
}

void LineListView::focusOutEvent(QFocusEvent* event) {
    QAbstractItemView::focusOutEvent(event);
    m_frameOverlay->update();
}

void LineListView::resizeEvent(QResizeEvent* event) {
    QAbstractItemView::resizeEvent(event);
    m_frameOverlay->setGeometry(rect());
    m_frameOverlay->raise();
}

int LineListView::lineHeight() const {
    // The height the rows have always had: the text and a header section's margins, the
    // least a table's row header let a row be. The header takes the list's font.
    const int margins = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, m_header);
    return std::max(1, fontMetrics().height() + margins);
}

void LineListView::matchHeaderArea() {
    QPalette palette = header()->palette();
    palette.setColor(QPalette::Window, this->palette().color(QPalette::Button));
    header()->setPalette(palette);
}

void LineListView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        matchHeaderArea();
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        m_rowHeight = lineHeight();
        updateGeometries();
        viewport()->update();
    }
    QAbstractItemView::changeEvent(event);
}

std::optional<qsizetype> LineListView::selectedPosition() const {
    if (!selectionModel())
        return std::nullopt;
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return qsizetype(rows.first().row()) + 1;
}

std::optional<qsizetype> LineListView::positionAt(const QPoint& point) const {
    // A pointer held past the list's edge is over no item: the rows out of view there are
    // not under it.
    if (!viewport()->rect().contains(point))
        return std::nullopt;
    const QModelIndex index = indexAt(point);
    if (!index.isValid())
        return std::nullopt;
    return qsizetype(index.row()) + 1;
}

void LineListView::selectPosition(qsizetype position) {
    setCurrentIndex(model()->index(int(position - 1), 0));
}

void LineListView::revealPosition(qsizetype position) {
    scrollTo(model()->index(int(position - 1), 0), QAbstractItemView::EnsureVisible);
}

void LineListView::setAcceptsFileDrops(bool accepts) {
    m_acceptsFileDrops = accepts;
    setAcceptDrops(accepts);
    viewport()->setAcceptDrops(accepts);
    setDropIndicatorShown(false);
    setDragEnabled(false);
}

QModelIndex LineListView::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    if (rows == 0)
        return {};
    const QModelIndex current = currentIndex();
    // The first key in a list without a current line starts at the top.
    if (!current.isValid())
        return model()->index(0, 0, rootIndex());
    qint64 row = current.row();
    switch (action) {
    case MoveUp:
    case MovePrevious:
        row = std::max<qint64>(0, row - 1);
        break;
    case MoveDown:
    case MoveNext:
        row = std::min<qint64>(rows - 1, row + 1);
        break;
    // A page from the current line's far edge, as a table pages: the line that was at the
    // bottom edge is at the top after Page Down.
    case MovePageUp:
        row = std::max<qint64>(0, rowAtY(visualRect(current).bottom() - viewport()->height()));
        break;
    case MovePageDown:
        row = std::min<qint64>(rows - 1, rowAtY(visualRect(current).top() + viewport()->height()));
        break;
    // Home and End go to the first and the last line, whatever the modifiers.
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = rows - 1;
        break;
    case MoveLeft:
    case MoveRight:
        break;
    }
    return model()->index(int(row), 0, rootIndex());
}

QString LineListView::tipFor(const QModelIndex& index) const {
    if (!index.isValid())
        return {};
    return m_makeTip ? m_makeTip(index) : index.data(Qt::ToolTipRole).toString();
}

QString LineListView::descriptionFor(const QModelIndex& index) const {
    if (!index.isValid())
        return {};
    return m_makeDescription ? m_makeDescription(index)
                             : index.data(Qt::AccessibleDescriptionRole).toString();
}

bool LineListView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        const QString tip = tipFor(index);
        if (!tip.isEmpty()) {
            // An item's tooltip quotes lines, which are plain text whatever markup they hold.
            const QString plain = QStringLiteral("<p style='white-space:pre'>") +
                                  tip.toHtmlEscaped() + QStringLiteral("</p>");
            const QRect item = visualRect(index);
            QToolTip::showText(help->globalPos(), plain, viewport(), item);
            return true;
        }
    }
    return QAbstractItemView::viewportEvent(event);
}

void LineListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QAbstractItemView::mouseDoubleClickEvent(event);
    emit doubleClickedAnywhere();
}

void LineListView::mouseMoveEvent(QMouseEvent* event) {
    emit mouseMoved(event->position().toPoint());
    // The view's drag selection would move the selection off the carried item, and its
    // auto-scrolling would scroll without an exchange.
    if (m_carriesItems && event->buttons() != Qt::NoButton)
        return;
    QAbstractItemView::mouseMoveEvent(event);
}

void LineListView::mousePressEvent(QMouseEvent* event) {
    emit mousePressed();
    QAbstractItemView::mousePressEvent(event);
    // The press, not the release, is the click on an item: carrying starts right away.
    if (event->button() == Qt::LeftButton && positionAt(event->position().toPoint()))
        emit itemPressed();
}

void LineListView::mouseReleaseEvent(QMouseEvent* event) {
    QAbstractItemView::mouseReleaseEvent(event);
    emit mouseReleased();
}

void LineListView::keyPressEvent(QKeyEvent* event) {
    // Delete and Backspace act whatever the modifiers; every other key is the view's own.
    if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
        emit deletePressed();
        event->accept();
        return;
    }
    QAbstractItemView::keyPressEvent(event);
}

// The view's own drag-and-drop handling is left out on purpose: items never move by it,
// and it would accept the list's own item data.
void LineListView::dragEnterEvent(QDragEnterEvent* event) {
    if (takesFileDropsNow() && acceptsFileDrag(*event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void LineListView::dragMoveEvent(QDragMoveEvent* event) {
    if (takesFileDropsNow() && acceptsFileDrag(*event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void LineListView::dropEvent(QDropEvent* event) {
    const QStringList paths =
        takesFileDropsNow() ? droppedFilePaths(*event->mimeData()) : QStringList();
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit filesDropped(paths);
}

} // namespace varnel
