#pragma once

#include <QPointer>

class QEvent;

#include <atomic>
#include <chrono>
#include <functional>
#include <utility>
#include <vector>

namespace varnel {

// Thrown out of runAside() when the command was cancelled and the work aside stopped for it.
// Not a failure: the command catches it and ends as its cancel is described.
struct CommandCancelled {};

// Lets the window process pending events from inside a long command. Yields are
// coalesced: a command asks on every item, but events are processed only once the
// interval has passed, which keeps the window responsive without paying for an event
// loop turn per line. Once the window has been closed, every yield throws ProgramEnding.
class EventPump {
public:
    using Clock = std::chrono::steady_clock;
    using Now = Clock::time_point (*)();

    // `now` is the clock the interval is measured on.
    explicit EventPump(std::chrono::microseconds interval = std::chrono::milliseconds(10),
                       Now now = &Clock::now);

    // True when the next yield() would really process events. Reading the clock costs
    // about as much as testing a pair of lines, so asks that come quickly share one read
    // of it in 64; asks of slower work each read it, or an item that takes a millisecond
    // would hold the window for 64 of them. Either way a turn is at most a quarter
    // interval, or the one ask that passes it, late.
    bool due() {
        if (++m_asks < m_stride)
            return false;
        const Clock::time_point now = m_now();
        const bool quick = (now - m_lastRead) * 4 * QuickStride < m_interval * m_asks;
        m_stride = quick ? QuickStride : 1;
        m_asks = 0;
        m_lastRead = now;
        return now - m_lastTurn >= m_interval;
    }
    // How many asks from now on are sure to answer false without reading the clock: work
    // that asks for every item may pass over that many items at once, and count them with
    // skipAsks(), for the same turns as asking each would give. Counting more makes the next
    // ask read the clock.
    unsigned quietAsks() const { return m_asks < m_stride ? m_stride - 1 - m_asks : 0; }
    void skipAsks(unsigned asks) { m_asks += asks; }
    void yield() {
        if (due())
            yieldNow();
    }
    // A command that holds work back between turns (results found, paths to add) hands it
    // over through `flush` right before the turn, so every handler that runs in it sees all
    // of the work so far, and a list hears of many rows at once.
    template <typename Flush> void flushThenYield(Flush&& flush) {
        if (due()) {
            flush();
            yieldNow();
        }
    }
    void yieldNow();
    // Runs `work` on a thread of its own while this thread turns the event loop: the window
    // paints and answers the desktop, and clicks and keys in the meantime are not taken, so
    // no command starts in between, nor later on lists the user no longer sees as they were.
    // A request to close is taken: the work is asked to stop (stopRequested()) and this
    // throws ProgramEnding. Otherwise what `work` throws is thrown here. Without a thread to
    // be had, the work runs on this one.
    void runAside(const std::function<void()>& work);
    // Runs `work` on a thread of its own while this thread turns the event loop as a yield
    // does, user input and all: for a wait on something outside (the office) that reads
    // nothing the handlers run meanwhile may change. A close and failures end it as they
    // end runAside().
    void waitAside(const std::function<void()>& work);
    // True while waitAside() waits, in whatever handler runs meanwhile.
    bool isWaitingAside() const { return m_waitingAside > 0; }
    // For work run aside to poll now and then; it may end with ProgramEnding once set.
    const std::atomic<bool>& stopRequested() const { return m_stopAside; }
    // Told true when work goes aside and false when it is done, to show that the window
    // waits for it.
    void setAsideIndicator(std::function<void(bool)> show) { m_showAside = std::move(show); }
    // True while runAside() waits: events that are not user input (a file drop among them)
    // still arrive, and must not start a command either.
    bool isRunningAside() const { return m_runningAside; }
    // Runs `work` on this thread once runAside() has returned, unless `context` is gone by
    // then: what arrives while the window waits (a drop accepted just before) waits too.
    void afterAside(QObject* context, std::function<void()> work);
    // While runAside() waits, user input goes to `take` before it is discarded, so that Escape
    // and the Cancel button still work.
    void setAsideInputTaker(std::function<void(QObject*, QEvent*)> take) {
        m_takeAsideInput = std::move(take);
    }

    // Cancelling the running command: the flag holds until the next command clears it, so
    // work that starts aside after the cancel stops at once too.
    void cancelCommand();
    void clearCancel() { m_cancelled = false; }
    bool commandCancelled() const { return m_cancelled; }

    // One turn of the event loop for all but user input, whatever the interval.
    void turnWithoutUserInput();
    void setInterval(std::chrono::microseconds interval) { m_interval = interval; }

    // Called when the main window closes.
    void endProgram() { m_ending = true; }
    bool ending() const { return m_ending; }
    // Throws ProgramEnding once the window has been closed.
    void checkAlive() const;

    // Responsiveness figures for the benchmark: the longest stretch of work between two
    // event-loop turns since the last reset.
    void resetStatistics();
    std::chrono::microseconds longestGap() const { return m_longestGap; }
    std::chrono::microseconds sinceLastTurn() const {
        return std::chrono::duration_cast<std::chrono::microseconds>(m_now() - m_lastTurn);
    }
    long long turns() const { return m_turns; }

private:
    static constexpr unsigned QuickStride = 64;

    void noteTurnStarts();
    void noteTurnEnded();
    // `takeInput`: user input is taken while the work runs, not discarded.
    void runOnSide(const std::function<void()>& work, bool takeInput);

    std::chrono::microseconds m_interval;
    Now m_now;
    Clock::time_point m_lastTurn;
    Clock::time_point m_lastRead; // of the clock, by due()
    unsigned m_stride = 1;        // asks per read of the clock
    std::chrono::microseconds m_longestGap{0};
    long long m_turns = 0;
    unsigned m_asks = 0;
    bool m_ending = false;
    bool m_runningAside = false;
    int m_waitingAside = 0;
    bool m_cancelled = false;
    std::function<void(QObject*, QEvent*)> m_takeAsideInput;
    std::atomic<bool> m_stopAside = false;
    std::function<void(bool)> m_showAside;
    std::vector<std::pair<QPointer<QObject>, std::function<void()>>> m_afterAside;
};

} // namespace varnel
