#include "pendingnames.h"

#include "filesystem.h"

#include <atomic>
#include <cstring>

#include <pthread.h>
#include <unistd.h>

namespace varnel {

namespace {

struct PendingName {
    std::atomic<int> folder{-1}; // -1: a free slot; -2: being filled
    char name[NameLimit + 1];
};
constexpr int PendingLimit = 8;
PendingName pendingNames[PendingLimit];

} // namespace

int rememberName(int folder, const QByteArray& name) {
    if (name.size() > NameLimit)
        return -1;
    for (int slot = 0; slot < PendingLimit; ++slot) {
        int free = -1;
        if (pendingNames[slot].folder.compare_exchange_strong(free, -2)) {
            std::memcpy(pendingNames[slot].name, name.constData(), size_t(name.size()) + 1);
            pendingNames[slot].folder.store(folder);
            return slot;
        }
    }
    return -1;
}

void forgetName(int slot) {
    if (slot >= 0)
        pendingNames[slot].folder.store(-1);
}

void removePendingNames() noexcept {
    for (PendingName& pending : pendingNames) {
        const int folder = pending.folder.load();
        if (folder >= 0)
            ::unlinkat(folder, pending.name, 0);
    }
}

SignalsHeld::SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &m_before);
}

SignalsHeld::~SignalsHeld() {
    pthread_sigmask(SIG_SETMASK, &m_before, nullptr);
}

} // namespace varnel
