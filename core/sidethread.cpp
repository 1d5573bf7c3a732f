#include "sidethread.h"

#include <exception>
#include <memory>
#include <system_error>
#include <utility>

#include <sched.h>

namespace varnel {

namespace {

struct Start {
    std::function<void()> work;
    cpu_set_t allowed; // the creator's cores, which the thread may use once it runs
    bool restore = false;
};

void* runStart(void* argument) {
    const std::unique_ptr<Start> start(static_cast<Start*>(argument));
    if (start->restore)
        ::sched_setaffinity(0, sizeof start->allowed, &start->allowed);
    try {
        start->work();
    } catch (...) {
        // As for std::thread: an exception leaving a thread's work is a fault of the program.
        std::terminate();
    }
    return nullptr;
}

} // namespace

SideThread::SideThread(std::function<void()> work) {
    auto start = std::make_unique<Start>();
    start->work = std::move(work);
    pthread_attr_t attributes;
    if (const int error = ::pthread_attr_init(&attributes))
        throw std::system_error(error, std::generic_category());
    // Any core of the creator's but the one it runs on; with no other, wherever it is put.
    cpu_set_t others;
    const int here = ::sched_getcpu();
    if (here >= 0 && here < CPU_SETSIZE &&
        ::sched_getaffinity(0, sizeof start->allowed, &start->allowed) == 0) {
        others = start->allowed;
        CPU_CLR(here, &others);
        start->restore = CPU_COUNT(&others) > 0 &&
                         ::pthread_attr_setaffinity_np(&attributes, sizeof others, &others) == 0;
    }
    const int error = ::pthread_create(&m_thread, &attributes, runStart, start.get());
    ::pthread_attr_destroy(&attributes);
    if (error)
        throw std::system_error(error, std::generic_category());
    start.release();
    m_joinable = true;
}

SideThread::SideThread(SideThread&& other) noexcept
    : m_thread(other.m_thread)
    , m_joinable(std::exchange(other.m_joinable, false)) {}

SideThread& SideThread::operator=(SideThread&& other) noexcept {
    if (this != &other) {
        join();
        m_thread = other.m_thread;
        m_joinable = std::exchange(other.m_joinable, false);
    }
    return *this;
}

void SideThread::join() {
    if (std::exchange(m_joinable, false))
        ::pthread_join(m_thread, nullptr);
}

} // namespace varnel
