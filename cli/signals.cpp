#include "signals.h"

#include "files/filereplacement.h"

#include <csignal>

namespace varnel::cli {

namespace {

void removeTemporariesThenEnd(int signal) {
    FileReplacement::removeNamedTemporaries();
    // The signal is held while its handler runs: raised again under its default action, it
    // ends the program as soon as the handler returns.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    ::sigaction(signal, &byDefault, nullptr);
    ::raise(signal);
}

} // namespace

void removeTemporariesOnSignals() {
    struct sigaction handler {};
    handler.sa_handler = removeTemporariesThenEnd;
    sigemptyset(&handler.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        sigaddset(&handler.sa_mask, signal);
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            ::sigaction(signal, &handler, nullptr);
    }
}

} // namespace varnel::cli
