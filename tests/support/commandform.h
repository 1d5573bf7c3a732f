#pragma once

#include "commands/windowstate.h"
#include "core/eventpump.h"
#include "support/scripteduserinterface.h"

#include <QTimer>

#include <functional>
#include <memory>

namespace varnel::testing {

// A window's state without the window, under the program's title, with a scripted user.
struct CommandForm {
    ScriptedUserInterface ui;
    WindowState state{ui};
    CommandForm() { state.setApplicationTitle(QStringLiteral("Varnel")); }
    // Every yield turns the event loop, so a test's timers land in the middle of a command.
    void yieldEveryLine() { state.pump().setInterval(std::chrono::microseconds(0)); }
};

// Runs `action` once, on the `turn`-th turn of the event loop from now; a command's yields
// are such turns. With `pump`, the turns while work runs or waits aside do not count: how many
// there are depends on the other thread. Nothing runs once the result is gone.
inline std::unique_ptr<QTimer> onTurn(int turn, std::function<void()> action,
                                      const EventPump* pump = nullptr) {
    auto timer = std::make_unique<QTimer>();
    QObject::connect(
        timer.get(), &QTimer::timeout,
        [t = timer.get(), turn, turns = 0, pump, action = std::move(action)]() mutable {
            if (pump && (pump->isRunningAside() || pump->isWaitingAside()))
                return;
            if (++turns == turn) {
                t->stop();
                action();
            }
        });
    timer->start(0);
    return timer;
}

} // namespace varnel::testing
