#include "listkeys.h"

#include "findpopup.h"
#include "linelistview.h"

#include "commands/keyedits.h"
#include "commands/windowstate.h"

#include <QKeyEvent>
#include <QPushButton>

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
    , m_find(new FindPopup(input->window())) {
    input->installEventFilter(this);
    results->installEventFilter(this);
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
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto* view = static_cast<LineListView*>(watched);
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods =
        key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (mods == Qt::ControlModifier && key->key() == Qt::Key_F) {
        m_find->openOver(view);
        return true;
    }
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
    if (key->matches(QKeySequence::Paste)) {
        m_run([this] {
            if (const auto last = pasteLines(m_state))
                showAdded(*last);
        });
        return true;
    }
    return false;
}

} // namespace varnel
