#include "edithistory.h"

#include <algorithm>

namespace varnel {

EditHistory::EditHistory(QObject* parent)
    : QObject(parent) {}

EditHistory::~EditHistory() {
    for (LineListModel* list : m_lists)
        list->setRecorder(nullptr);
}

void EditHistory::watch(LineListModel& list) {
    list.setRecorder(this);
    m_lists.push_back(&list);
    // A list that goes first is not told of the history's end.
    connect(&list, &QObject::destroyed, this, [this, gone = &list] {
        m_lists.erase(std::remove(m_lists.begin(), m_lists.end(), gone), m_lists.end());
    });
}

void EditHistory::setLimits(qsizetype maxSteps, qsizetype maxBytes) {
    m_maxSteps = std::max<qsizetype>(1, maxSteps);
    m_maxBytes = maxBytes;
    trim();
}

void EditHistory::beginStep() {
    ++m_depth;
}

void EditHistory::endStep() {
    if (m_depth > 0 && --m_depth == 0)
        commit();
}

void EditHistory::record(LineListModel& list, ListChange change) {
    Step& step = m_replayed ? *m_replayed : m_open;
    step.bytes += change.bytes();
    step.changes.emplace_back(&list, std::move(change));
    if (!m_replayed && m_depth == 0)
        commit();
}

void EditHistory::commit() {
    if (m_open.changes.empty())
        return;
    // A new change ends every way forward.
    forget(m_redo);
    m_bytes += m_open.bytes;
    m_undo.push_back(std::exchange(m_open, Step()));
    trim();
    emit changed();
}

void EditHistory::forget(std::deque<Step>& steps) {
    for (const Step& step : steps)
        m_bytes -= step.bytes;
    steps.clear();
}

void EditHistory::trim() {
    while (!m_undo.empty() && (qsizetype(m_undo.size()) > m_maxSteps || m_bytes > m_maxBytes) &&
           m_undo.size() + m_redo.size() > 1) {
        m_bytes -= m_undo.front().bytes;
        m_undo.pop_front();
    }
}

bool EditHistory::undo() {
    return replay(m_undo, m_redo);
}

bool EditHistory::redo() {
    return replay(m_redo, m_undo);
}

bool EditHistory::replay(std::deque<Step>& from, std::deque<Step>& to) {
    if (from.empty() || isRecording() || m_replayed)
        return false;
    Step step = std::move(from.back());
    from.pop_back();
    m_bytes -= step.bytes;
    Step back;
    m_replayed = &back;
    try {
        // Each change is taken back in the state it left, so the last one first.
        for (auto change = step.changes.rbegin(); change != step.changes.rend(); ++change)
            change->first->apply(std::move(change->second));
    } catch (...) {
        // Half a step taken back leaves the lists whole but the history no longer
        // matching them.
        m_replayed = nullptr;
        forget(m_undo);
        forget(m_redo);
        emit changed();
        throw;
    }
    m_replayed = nullptr;
    m_bytes += back.bytes;
    to.push_back(std::move(back));
    trim();
    emit changed();
    return true;
}

} // namespace varnel
