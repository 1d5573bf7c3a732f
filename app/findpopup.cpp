#include "findpopup.h"

#include "linelistview.h"
#include "lists/linefind.h"
#include "lists/linelistmodel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace varnel {

FindPopup::FindPopup(QWidget* parent)
    : QFrame(parent, Qt::Popup) {
    setObjectName(QStringLiteral("FindPopup"));
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setAccessibleName(tr("Find"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(tr("Find"));
    m_field->setAccessibleName(tr("Find in list"));
    auto* previous = new QToolButton(this);
    previous->setArrowType(Qt::UpArrow);
    previous->setToolTip(tr("Previous (Shift+Enter)"));
    // An arrow is no name a screen reader can read out.
    previous->setAccessibleName(tr("Previous"));
    auto* next = new QToolButton(this);
    next->setArrowType(Qt::DownArrow);
    next->setToolTip(tr("Next (Enter)"));
    next->setAccessibleName(tr("Next"));
    m_status = new QLabel(this);
    layout->addWidget(m_field);
    layout->addWidget(previous);
    layout->addWidget(next);
    layout->addWidget(m_status);
    connect(previous, &QToolButton::clicked, this, [this] { findAgain(false); });
    connect(next, &QToolButton::clicked, this, [this] { findAgain(true); });
    // Typing goes to the first line holding the text from where the search started.
    connect(m_field, &QLineEdit::textEdited, this, [this] { m_status->clear(); });
}

void FindPopup::openOver(LineListView* view) {
    m_view = view;
    m_status->clear();
    adjustSize();
    const QPoint corner = view->mapToGlobal(QPoint(view->width() - width(), 0));
    move(corner);
    show();
    m_field->setFocus();
    m_field->selectAll();
}

bool FindPopup::findAgain(bool forward) {
    if (!m_view || !m_view->model())
        return false;
    const auto* list = qobject_cast<const LineListModel*>(m_view->model());
    if (!list)
        return false;
    const std::optional<qsizetype> at =
        findLine(*list, m_field->text(), m_view->selectedPosition().value_or(0), forward);
    if (!at) {
        m_status->setText(m_field->text().isEmpty() ? QString() : tr("Not found"));
        return false;
    }
    m_status->clear();
    m_view->selectPosition(*at);
    m_view->revealPosition(*at);
    return true;
}

void FindPopup::keyPressEvent(QKeyEvent* event) {
    const bool back = event->modifiers().testFlag(Qt::ShiftModifier);
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_F3:
        findAgain(!back);
        event->accept();
        return;
    default:
        QFrame::keyPressEvent(event);
    }
}

} // namespace varnel
