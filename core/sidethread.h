#pragma once

#include <functional>

#include <pthread.h>

namespace varnel {

// A thread for work beside the calling one's, started on another core when the process may
// use one. A new thread left to the scheduler is put on its creator's core and can wait there
// for milliseconds before it is moved to an idle one, longer than most of the work it was
// started for; once running, it may move again like any other. Used as std::jthread: it is
// joined when it goes, and throws std::system_error when no thread is to be had.
class SideThread {
public:
    SideThread() noexcept = default;
    explicit SideThread(std::function<void()> work);
    SideThread(SideThread&& other) noexcept;
    SideThread& operator=(SideThread&& other) noexcept;
    SideThread(const SideThread&) = delete;
    SideThread& operator=(const SideThread&) = delete;
    ~SideThread() { join(); }

    bool joinable() const { return m_joinable; }
    void join();

private:
    pthread_t m_thread{};
    bool m_joinable = false;
};

} // namespace varnel
