#include "findpopup.h"

#include "commands/commandsummaries.h"
#include "commands/windowstate.h"
#include "core/commandprogress.h"
#include "core/eventpump.h"
#include "linelistview.h"
#include "lists/linefind.h"
#include "lists/linelistmodel.h"
#include "lists/listsnapshot.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QToolButton>

#include <utility>

namespace varnel {

namespace {

// A search that ends within this many lines takes well under a yield's interval: it shows
// no progress and leaves the last command's summary standing.
constexpr qsizetype QuietLines = 1 << 14;

} // namespace

FindPopup::FindPopup(WindowState& state, std::function<void(const std::function<void()>&)> run,
                     QWidget* parent)
    : QFrame(parent, Qt::Popup)
    , m_state(state)
    , m_run(std::move(run)) {
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
    // Enter again while the search yields waits for it, as a second click on a button does.
    if (m_searching)
        return false;
    std::optional<qsizetype> at;
    bool cancelled = false;
    m_run([&] {
        try {
            at = search(forward);
        } catch (const CommandCancelled&) {
            cancelled = true;
        }
    });
    if (!at) {
        if (cancelled)
            m_status->setText(tr("Stopped"));
        else
            m_status->setText(m_field->text().isEmpty() ? QString() : tr("Not found"));
        return false;
    }
    m_status->clear();
    m_view->selectPosition(*at);
    m_view->revealPosition(*at);
    return true;
}

std::optional<qsizetype> FindPopup::search(bool forward) {
    if (!m_view)
        return std::nullopt;
    const auto* model = qobject_cast<const LineListModel*>(m_view->model());
    if (!model)
        return std::nullopt;
    // The lines as they are now: the search yields, and a line removed meanwhile is still
    // looked at rather than read past the list's end.
    const ListSnapshot lines = model->snapshot();
    const QString text = m_field->text();
    const qsizetype from = m_view->selectedPosition().value_or(0);
    CommandProgress& progress = m_state.progress();
    EventPump& pump = m_state.pump();
    const auto place =
        model == &m_state.input() ? CommandProgress::Place::Input : CommandProgress::Place::Results;
    // Searched in a yield of another command, it leaves that command's progress be.
    const bool nested = progress.isRunning();
    m_searching = true;
    const auto done = qScopeGuard([&] {
        m_searching = false;
        // A command run in one of the yields may have put its own summary there since.
        if (std::exchange(m_showsProgress, false) && progress.isRunning())
            progress.clear();
    });
    return findLine(lines, text, from, forward, [&](qsizetype looked) {
        if (looked < QuietLines)
            return;
        if (!m_showsProgress && !nested) {
            m_showsProgress = true;
            progress.start(place, summaries::finding(lines.count()), lines.count());
        }
        progress.setDone(looked);
        pump.yield();
        if (m_showsProgress && progress.cancelRequested())
            throw CommandCancelled{};
    });
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
    case Qt::Key_Escape:
        // Escape stops a search under way and leaves the popup open to search again.
        if (m_searching) {
            if (m_showsProgress)
                m_state.progress().cancel();
            event->accept();
            return;
        }
        QFrame::keyPressEvent(event);
        return;
    default:
        QFrame::keyPressEvent(event);
    }
}

void FindPopup::hideEvent(QHideEvent* event) {
    // A click elsewhere (the progress's Cancel among them) closes the popup: nothing is left
    // to show what the search finds.
    if (m_showsProgress)
        m_state.progress().cancel();
    QFrame::hideEvent(event);
}

} // namespace varnel
