#pragma once

#include "linelistmodel.h"

#include <QObject>

#include <deque>
#include <utility>
#include <vector>

namespace varnel {

// What the lists it watches went through, as steps that can be taken back and done again.
// A step is everything that changed between the outermost beginStep() and its endStep(),
// so a command that yields is one step however long it runs and whatever ran during its
// yields; a change outside any step is a step of its own. The history keeps at most
// `maxSteps` steps and about `maxBytes` of rows and text they alone hold, dropping the
// oldest; the newest step is kept whatever its size.
class EditHistory : public QObject, private ListChangeRecorder {
    Q_OBJECT
public:
    static constexpr qsizetype DefaultMaxSteps = 500;
    static constexpr qsizetype DefaultMaxBytes = qsizetype(1) << 30;

    explicit EditHistory(QObject* parent = nullptr);
    ~EditHistory() override;
    EditHistory(const EditHistory&) = delete;
    EditHistory& operator=(const EditHistory&) = delete;

    // Records the changes of `list` from now on, until the history goes.
    void watch(LineListModel& list);
    void setLimits(qsizetype maxSteps, qsizetype maxBytes);

    void beginStep();
    void endStep();
    // Each takes one step back or forward; false, changing nothing, when there is none or
    // a step is under way.
    bool undo();
    bool redo();
    bool canUndo() const { return !m_undo.empty() && !isRecording(); }
    bool canRedo() const { return !m_redo.empty() && !isRecording(); }

    qsizetype undoCount() const { return qsizetype(m_undo.size()); }
    qsizetype redoCount() const { return qsizetype(m_redo.size()); }
    qsizetype bytes() const { return m_bytes; }

    // Keeps one step open for its lifetime.
    class Scope {
    public:
        explicit Scope(EditHistory& history)
            : m_history(history) {
            history.beginStep();
        }
        ~Scope() { m_history.endStep(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        EditHistory& m_history;
    };

signals:
    void changed();

private:
    struct Step {
        std::vector<std::pair<LineListModel*, ListChange>> changes;
        qsizetype bytes = 0;
    };

    void record(LineListModel& list, ListChange change) override;
    // A step is under way (and undo would cut into it) beyond the one an undo runs in.
    bool isRecording() const { return m_depth > 1 || !m_open.changes.empty(); }
    bool replay(std::deque<Step>& from, std::deque<Step>& to);
    void commit();
    void forget(std::deque<Step>& steps);
    void trim();

    std::vector<LineListModel*> m_lists;
    std::deque<Step> m_undo;
    std::deque<Step> m_redo;
    Step m_open;
    // While a step is replayed, what takes it back again goes here.
    Step* m_replayed = nullptr;
    int m_depth = 0;
    qsizetype m_bytes = 0;
    qsizetype m_maxSteps = DefaultMaxSteps;
    qsizetype m_maxBytes = DefaultMaxBytes;
};

} // namespace varnel
