#include "eventpump.h"

#include "failure.h"

#include <QCoreApplication>

namespace varnel {

EventPump::EventPump(std::chrono::microseconds interval)
    : m_interval(interval)
    , m_lastTurn(Clock::now()) {}

void EventPump::yieldNow() {
    checkAlive();
    const auto before = Clock::now();
    const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(before - m_lastTurn);
    if (gap > m_longestGap)
        m_longestGap = gap;
    ++m_turns;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    m_lastTurn = Clock::now();
    checkAlive();
}

void EventPump::checkAlive() const {
    if (m_ending)
        throw ProgramEnding{};
}

void EventPump::resetStatistics() {
    m_longestGap = std::chrono::microseconds(0);
    m_turns = 0;
    m_lastTurn = Clock::now();
}

} // namespace varnel
