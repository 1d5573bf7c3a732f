#include "commandprogress.h"

#include "eventpump.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace varnel {

CommandProgress::CommandProgress(EventPump& pump, Now now, QObject* parent)
    : QObject(parent)
    , m_pump(pump)
    , m_now(now) {
    // Often enough for a bar to move smoothly, seldom enough to cost nothing; the timer
    // fires in the turns of the event loop a command yields, and while a sort runs aside.
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &CommandProgress::refresh);
}

void CommandProgress::start(Place place, QString activity, qint64 total, Cancel cancel) {
    m_pump.clearCancel();
    m_cancellable = cancel == Cancel::Allowed;
    m_place = place;
    m_activity = std::move(activity);
    m_summary.clear();
    m_total = total;
    m_done.store(0, std::memory_order_relaxed);
    m_shareSource = {};
    m_valueShown = -1;
    m_percentReached = 0;
    m_started = m_now();
    m_running = true;
    m_timer.start();
    setShown(false);
}

void CommandProgress::finish(const QString& summary) {
    m_timer.stop();
    m_running = false;
    m_shareSource = {};
    m_summary = summary;
    m_shown = !summary.isEmpty();
    emit changed();
}

void CommandProgress::clear() {
    m_timer.stop();
    m_running = false;
    m_shareSource = {};
    m_summary.clear();
    setShown(false);
}

void CommandProgress::cancel() {
    if (isCancellable())
        m_pump.cancelCommand();
}

bool CommandProgress::cancelRequested() const {
    return m_running && m_pump.commandCancelled();
}

int CommandProgress::percent() const {
    double share = 0;
    if (m_shareSource)
        share = m_shareSource();
    else if (m_total > 0)
        share = double(done()) / double(m_total);
    // Floored: "100 %" only once it is all done.
    m_percentReached = std::max(m_percentReached, std::clamp(int(std::floor(share * 100)), 0, 100));
    return m_percentReached;
}

QString CommandProgress::text() const {
    if (!m_running)
        return m_summary;
    if (m_total == CountOnly)
        return m_activity.arg(QLocale().toString(done()));
    if (m_total <= 0 && !m_shareSource)
        return m_activity;
    return m_activity + QLatin1Char(' ') + QLocale().toString(percent()) + QStringLiteral(" %");
}

qint64 CommandProgress::shownValue() const {
    return m_total == CountOnly ? done() : percent();
}

void CommandProgress::refresh() {
    if (!m_running)
        return;
    if (!m_shown) {
        if (m_now() - m_started >= ShowAfter)
            setShown(true);
        return;
    }
    const qint64 now = shownValue();
    if (now != m_valueShown) {
        m_valueShown = now;
        emit changed();
    }
}

void CommandProgress::setShown(bool shown) {
    if (shown == m_shown)
        return;
    m_shown = shown;
    m_valueShown = shown ? shownValue() : -1;
    emit changed();
}

} // namespace varnel
