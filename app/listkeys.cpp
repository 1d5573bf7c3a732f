#include "listkeys.h"

#include "findpopup.h"
#include "linelistview.h"

#include "commands/keyedits.h"
#include "commands/windowstate.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QShortcut>

#include <utility>

namespace varnel {

ListKeys::ListKeys(WindowState& state, LineListView* input, LineListView* results,
                   QPushButton* addOneItem, std::function<void(const std::function<void()>&)> run,
                   QObject* parent)
    : QObject(parent)
    , m_state(state)
    , m_input(input)
    , m_results(results)
    , m_run(std::move(run))
    , m_find(new FindPopup(state, m_run, input->window()))
    , m_lastList(input) {
    input->installEventFilter(this);
    results->installEventFilter(this);
    // The window's, not a list's: from a button the keys still reach their list.
    QWidget* window = input->window();
    connect(new QShortcut(QKeySequence::Paste, window), &QShortcut::activated, this, [this] {
        m_run([this] {
            if (const auto last = pasteLines(m_state))
                showAdded(*last);
        });
    });
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), window), &QShortcut::activated, this,
            [this] { m_find->openOver(m_lastList); });
    // The button's own command runs between these two: a line more than at the press is
    // the one it added.
    connect(addOneItem, &QPushButton::pressed, this,
            [this] { m_countAtPress = m_state.input().count(); });
    connect(addOneItem, &QPushButton::clicked, this, [this] {
        // A click whose press was not seen compares with nothing.
        const qsizetype before = std::exchange(m_countAtPress, -2);
        if (m_state.input().count() == before + 1)
            showAdded(m_state.input().count());
    });
}

void ListKeys::showAdded(qsizetype position) {
    m_input->selectPosition(position);
    m_input->revealPosition(position);
}

bool ListKeys::eventFilter(QObject* watched, QEvent* event) {
    // A list being destroyed still sends events, as a plain widget by then.
    auto* view = qobject_cast<LineListView*>(watched);
    if (!view)
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::FocusIn)
        m_lastList = view;
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods =
        key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (view != m_input)
        return false;
    if (mods == Qt::AltModifier && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
        const int step = key->key() == Qt::Key_Up ? -1 : 1;
        m_run([this, step] {
            if (const auto to = moveSelectedLine(m_state, m_input->selectedPosition(), step)) {
                m_input->selectPosition(*to);
                m_input->revealPosition(*to);
            }
        });
        return true;
    }
    return false;
}

} // namespace varnel
