#include "eventpump.h"

#include "failure.h"
#include "sidethread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <optional>
#include <system_error>

namespace varnel {

namespace {

bool isUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::InputMethod:
    case QEvent::NativeGesture:
        return true;
    default:
        return false;
    }
}

// Qt's own exclusion of user input holds back the desktop's request to close as well (on
// X11 it counts as input), and replays every held click once the work ends.
class UserInputSwallower : public QObject {
public:
    explicit UserInputSwallower(const std::function<void(QObject*, QEvent*)>& take)
        : m_take(take) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!isUserInput(event->type()))
            return false;
        if (m_take)
            m_take(watched, event);
        return true;
    }

private:
    const std::function<void(QObject*, QEvent*)>& m_take;
};

bool isProgramEnding(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const ProgramEnding&) {
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

EventPump::EventPump(std::chrono::microseconds interval, Now now)
    : m_interval(interval)
    , m_now(now)
    , m_lastTurn(now())
    , m_lastRead(m_lastTurn) {}

void EventPump::noteTurnStarts() {
    const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(m_now() - m_lastTurn);
    m_longestGap = std::max(m_longestGap, gap);
    ++m_turns;
}

void EventPump::noteTurnEnded() {
    m_lastTurn = m_now();
    // The turn's own time says nothing about how quickly the command asks.
    m_lastRead = m_lastTurn;
    m_asks = 0;
}

void EventPump::yieldNow() {
    checkAlive();
    noteTurnStarts();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    noteTurnEnded();
    checkAlive();
}

void EventPump::turnWithoutUserInput() {
    noteTurnStarts();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    noteTurnEnded();
}

void EventPump::runAside(const std::function<void()>& work) {
    runOnSide(work, false);
}

void EventPump::waitAside(const std::function<void()>& work) {
    ++m_waitingAside;
    const auto waited = qScopeGuard([this] { --m_waitingAside; });
    runOnSide(work, true);
}

void EventPump::runOnSide(const std::function<void()>& work, bool takeInput) {
    QEventLoop loop;
    std::exception_ptr failure;
    SideThread worker;
    // Work that starts after its command was cancelled is told at once.
    if (m_cancelled)
        m_stopAside = true;
    try {
        worker = SideThread([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        const auto stopDone = qScopeGuard([this] { m_stopAside = false; });
        try {
            work();
        } catch (const ProgramEnding&) {
            if (m_cancelled && !m_ending)
                throw CommandCancelled{};
            throw;
        }
        return;
    }
    noteTurnStarts();
    // Work that takes input is no command holding the window: handlers run beside it as in
    // a yield, and may run work aside of their own.
    const bool outer = takeInput ? m_runningAside : std::exchange(m_runningAside, true);
    const bool indicate = !takeInput && !outer && m_showAside;
    if (indicate)
        m_showAside(true);
    {
        std::optional<UserInputSwallower> swallower;
        if (!takeInput) {
            swallower.emplace(m_takeAsideInput);
            QCoreApplication::instance()->installEventFilter(&*swallower);
        }
        // The loop is idle between events, never busy: it answers at once all the while. It
        // also ends when the window closes, and then the work is told to stop.
        loop.exec();
    }
    if (m_ending)
        m_stopAside = true;
    worker.join();
    m_stopAside = false;
    m_runningAside = outer;
    if (indicate)
        m_showAside(false);
    noteTurnEnded();
    checkAlive();
    if (!m_runningAside) {
        for (auto& [context, later] : std::exchange(m_afterAside, {})) {
            if (context)
                QTimer::singleShot(0, context, std::move(later));
        }
    }
    // The work stops for a cancel the way it stops for the end of the program.
    if (failure && m_cancelled && isProgramEnding(failure))
        throw CommandCancelled{};
    if (failure)
        std::rethrow_exception(failure);
}

void EventPump::cancelCommand() {
    m_cancelled = true;
    if (m_runningAside)
        m_stopAside = true;
}

void EventPump::afterAside(QObject* context, std::function<void()> work) {
    if (!m_runningAside) {
        QTimer::singleShot(0, context, std::move(work));
        return;
    }
    m_afterAside.emplace_back(context, std::move(work));
}

void EventPump::checkAlive() const {
    if (m_ending)
        throw ProgramEnding{};
}

void EventPump::resetStatistics() {
    m_longestGap = std::chrono::microseconds(0);
    m_turns = 0;
    m_lastTurn = m_now();
}

} // namespace varnel
