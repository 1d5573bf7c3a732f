#include "eventpump.h"

#include "failure.h"

#include <QCoreApplication>

namespace varnel {

EventPump::EventPump(std::chrono::microseconds interval, Now now)
    : m_interval(interval)
    , m_now(now)
    , m_lastTurn(now())
    , m_lastRead(m_lastTurn) {}

void EventPump::yieldNow() {
    checkAlive();
    const auto before = m_now();
    const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(before - m_lastTurn);
    if (gap > m_longestGap)
        m_longestGap = gap;
    ++m_turns;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    m_lastTurn = m_now();
    // The turn's own time says nothing about how quickly the command asks.
    m_lastRead = m_lastTurn;
    m_asks = 0;
    checkAlive();
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
