#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>

namespace varnel {

class EventPump;

// What the window shows of a long command: while it works, what it does and how far it is;
// once it has ended, a summary that stays until the next command or a click. Commands tell
// it; the window only shows it, so every command's progress is tested without a display.
// Asking to cancel reaches the command through the event pump.
class CommandProgress : public QObject {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;
    using Now = Clock::time_point (*)();

    // Which list the progress sits on.
    enum class Place { Input, Results };
    // A command that ends sooner than this shows no progress, only its summary.
    static constexpr std::chrono::milliseconds ShowAfter{500};
    static constexpr qint64 CountOnly = -1;

    explicit CommandProgress(EventPump& pump, Now now = &Clock::now, QObject* parent = nullptr);

    // For tests: the clock ShowAfter is measured on.
    void setClock(Now now) { m_now = now; }

    // A command starts `activity` (already worded with its counts, "Sorting 3 lines…") over
    // `total` steps. Work whose total is not known beforehand passes 0 and shows the
    // activity alone, or CountOnly and an activity with a %1 for the count done so far
    // ("Adding dropped files… %1 so far"). Replaces whatever
    // was shown, and forgets any earlier cancel. A command that is not `cancellable` shows no
    // Cancel button, and Escape leaves it be.
    enum class Cancel { Allowed, NotAllowed };
    void start(Place place, QString activity, qint64 total, Cancel cancel = Cancel::Allowed);
    // For work that learns its size once under way; the figure shown does not go back.
    void setTotal(qint64 total) { m_total = total; }
    // Cheap enough for every step of a walk; read on the next refresh.
    void setDone(qint64 done) { m_done.store(done, std::memory_order_relaxed); }
    // Where the share done comes from when it is not counted in steps (a sort), from 0 to 1;
    // read on this thread only. A command of several phases weighs them into one figure.
    void setShareSource(std::function<double()> source) { m_shareSource = std::move(source); }
    // The command has ended; `summary` stays in its place.
    void finish(const QString& summary);
    // Nothing more to show, for a command that ended without a summary.
    void clear();

    // Escape or the Cancel button: the running command stops at its next step.
    void cancel();
    bool cancelRequested() const;

    bool isRunning() const { return m_running; }
    bool isCancellable() const { return m_running && m_cancellable; }
    // True once the running command has taken ShowAfter, or while a summary stays.
    bool isShown() const { return m_shown; }
    Place place() const { return m_place; }
    // "Sorting 10,000,000 lines… 40 %" while running; the summary afterwards.
    QString text() const;
    // Never less than it has been since the command started: a figure the user has seen
    // does not go back.
    int percent() const;
    qint64 done() const { return m_done.load(std::memory_order_relaxed); }
    qint64 total() const { return m_total; }

    // Reads the progress anew; the window's timer calls it while a command runs.
    void refresh();

signals:
    // Whether it shows, or what it shows, changed.
    void changed();

private:
    void setShown(bool shown);
    qint64 shownValue() const;

    EventPump& m_pump;
    Now m_now;
    QTimer m_timer;
    Clock::time_point m_started;
    Place m_place = Place::Results;
    QString m_activity;
    QString m_summary;
    qint64 m_total = 0;
    std::atomic<qint64> m_done = 0;
    std::function<double()> m_shareSource;
    qint64 m_valueShown = -1; // the share or the count, as last shown
    mutable int m_percentReached = 0;
    bool m_running = false;
    bool m_cancellable = true;
    bool m_shown = false;
};

} // namespace varnel
