#pragma once

#include <chrono>

namespace varnel {

// Lets the window process pending events from inside a long command. Yields are
// coalesced: a command asks on every item, but events are processed only once the
// interval has passed, which keeps the window responsive without paying for an event
// loop turn per line. Once the window has been closed, every yield throws ProgramEnding.
class EventPump {
public:
    using Clock = std::chrono::steady_clock;

    explicit EventPump(std::chrono::microseconds interval = std::chrono::milliseconds(10));

    // True when the next yield() would really process events. Reading the clock costs
    // about as much as testing a pair of lines, so it is read on every 64th ask only:
    // far finer than the interval still.
    bool due() {
        if (m_interval.count() > 0 && (++m_asks & 63) != 0)
            return false;
        return Clock::now() - m_lastTurn >= m_interval;
    }
    void yield() {
        if (due())
            yieldNow();
    }
    void yieldNow();
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
        return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - m_lastTurn);
    }
    long long turns() const { return m_turns; }

private:
    std::chrono::microseconds m_interval;
    Clock::time_point m_lastTurn;
    std::chrono::microseconds m_longestGap{0};
    long long m_turns = 0;
    unsigned m_asks = 0;
    bool m_ending = false;
};

} // namespace varnel
