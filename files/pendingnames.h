#pragma once

#include <QByteArray>

#include <csignal>

namespace varnel {

// The names of temporary files made and not yet put in place, kept where a signal handler
// can read them. Up to a few at once; a name beyond them is simply not remembered.
// Returns the slot to forget, or -1.
int rememberName(int folder, const QByteArray& name);
void forgetName(int slot);
// Removes every remembered file. Async-signal-safe.
void removePendingNames() noexcept;

// While it lives, SIGINT, SIGTERM and SIGHUP wait in this thread, so the steps between
// making a name and putting it in place, or a copy into a file itself, are never cut short.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t m_before;
};

} // namespace varnel
