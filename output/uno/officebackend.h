#pragma once

// What the program and the LibreOffice backend, loaded at run time, agree on. Both sides
// are built together by one compiler, so C++ types may cross; a change to anything here
// needs a new factory symbol so that a stale backend is refused instead of misread.

#include <QString>
#include <QtGlobal>

#include <functional>

namespace varnel {

class AutomationApplication;

struct OfficeLaunchOptions {
    // The office to start; empty for the installed LibreOffice.
    QString program;
    // A profile folder of its own; empty for the user's profile, which also lets an office
    // the user already has open take the request over.
    QString profileDirectory;
    // Empty for a fresh name per application.
    QString pipeName;
    bool headless = false;
    int connectTimeoutMs = 30000;
    // Called between connection attempts, so a window stays responsive while the office
    // starts. It may throw; the exception leaves createApplication unchanged.
    std::function<void()> waitStep;
    // Told the id of the office process as soon as it has been started.
    std::function<void(qint64)> officeStarted;
    // Runs work that holds the caller a while (starting the office runtime in this process,
    // the first call of a freshly started office) and returns once it is done; it may run
    // it on another thread meanwhile. Empty: the work runs on the calling thread.
    std::function<void(const std::function<void()>&)> runAside;
};

// Returns a new application owned by the caller, or throws varnel::Failure.
using OfficeFactory = AutomationApplication* (*)(const OfficeLaunchOptions& options);

inline constexpr char officeBackendFileName[] = "libvarnel_office.so";
inline constexpr char officeFactorySymbol[] = "varnel_office_create_application_v3";

} // namespace varnel
