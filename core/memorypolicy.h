#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

#include "sidethread.h"
#include <atomic>
#include <vector>

namespace varnel {

// Big, short-lived buffers (a file's bytes while it is decoded, a list's index while it is
// sorted) go back to the system the moment they are freed. Left to itself the C library
// raises its threshold after the first large free and keeps later buffers in the heap for
// good, so a million-line list would cost its memory twice over.
void returnLargeBuffersToTheSystem();

// Asks the system for every page of a large buffer about to be filled, in one go: one fault
// a page, as each is first written, costs several times more. Only a hint; nothing fails.
void prefault(void* data, qint64 bytes);

// Asks for the pages of a large buffer on a thread of its own, front to back, while the
// caller fills it from the front: the faults are taken beside the work instead of before it,
// and a page the filling reaches first it simply takes itself. Done, stopped or let go of,
// it waits for its thread before the buffer may move or go. Without a thread, it asks for
// them all at once, as prefault does.
class PagesAhead {
public:
    PagesAhead() = default;
    ~PagesAhead() { finish(); }
    PagesAhead(const PagesAhead&) = delete;
    PagesAhead& operator=(const PagesAhead&) = delete;

    void start(void* data, qint64 bytes);
    // The same for two buffers filled side by side, each as far along as the other: one
    // thread for both, as two would only take turns on the other core.
    void start(void* data, qint64 bytes, void* other, qint64 otherBytes);
    // Stops asking and waits for the thread; the buffer is the caller's alone again.
    void finish();

private:
    SideThread m_thread;
    std::atomic<bool> m_stop = false;
};

// Memory this process can still use, in bytes, as far as the system tells: what the machine
// has free, and no more than its own control groups (the process's and every parent's) and
// its address-space limit leave it.
qint64 availableMemory();

// Where one control group keeps its memory limit and what it uses now.
struct MemoryGroupFiles {
    QString limit;
    QString usage;
    friend bool operator==(const MemoryGroupFiles&, const MemoryGroupFiles&) = default;
};

// The memory files of the control groups that bind this process, its own first, then each
// parent up to the top of the hierarchy as mounted; from the texts of /proc/self/cgroup and
// /proc/self/mountinfo. Version 2 groups and a version 1 memory hierarchy both count (a
// hybrid system has both); a hierarchy that is not mounted, or that does not reach the
// process's group, has none.
QList<MemoryGroupFiles> memoryGroupFiles(QByteArrayView cgroup, QByteArrayView mountInfo);

// A memory limit or usage file's number; -1 for "max" (no limit) and for anything unreadable.
qint64 memoryFileValue(QByteArrayView content);

} // namespace varnel
