#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <functional>

#include <sys/resource.h>

namespace varnel::testing {

// What the real program did.
struct ProgramRun {
    int status = -1; // -1: it did not end by itself in time
    QByteArray out;
    QByteArray err;
};

// How to run it.
struct ProgramCall {
    QStringList arguments; // with `shell`, one shell command
    QString folder;
    QByteArray input;
    // "NAME=value" sets a variable, "NAME" alone removes it.
    QStringList environment = {};
    bool shell = false;        // `sh -c`, the program on its PATH
    int user = -1;             // run as this user and group, through setpriv
    qint64 fileSizeLimit = -1; // RLIMIT_FSIZE
    std::function<void()> inChild = {};
    int waitMs = 60000;
};

// The folder the program is built in, beside the tests.
inline QString programFolder() {
    return QCoreApplication::applicationDirPath();
}

inline ProgramRun runProgram(const ProgramCall& call) {
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(QStringLiteral("PATH"),
                     programFolder() + u':' + variables.value(QStringLiteral("PATH")));
    for (const QString& setting : call.environment) {
        if (setting.contains(u'='))
            variables.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
        else
            variables.remove(setting);
    }
    QStringList arguments = call.arguments;
    QString program = programFolder() + QStringLiteral("/varnel");
    if (call.shell) {
        arguments = QStringList{QStringLiteral("-c"), arguments.join(u' ')};
        program = QStringLiteral("sh");
    }
    if (call.user >= 0) {
        arguments = QStringList{QStringLiteral("--reuid=%1").arg(call.user),
                                QStringLiteral("--regid=%1").arg(call.user),
                                QStringLiteral("--clear-groups"), program} +
                    arguments;
        program = QStringLiteral("setpriv");
    }
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(call.folder);
    process.setProcessEnvironment(variables);
    const qint64 limit = call.fileSizeLimit;
    const std::function<void()> inChild = call.inChild;
    if (limit >= 0 || inChild) {
        process.setChildProcessModifier([limit, inChild] {
            if (limit >= 0) {
                const rlimit size{rlim_t(limit), rlim_t(limit)};
                ::setrlimit(RLIMIT_FSIZE, &size);
            }
            if (inChild)
                inChild();
        });
    }
    process.start();
    process.write(call.input);
    process.closeWriteChannel();
    if (!process.waitForFinished(call.waitMs)) {
        process.kill(); // a window that opened after all
        process.waitForFinished();
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// The real `varnel` run in `folder` with `input` on its standard input.
inline ProgramRun runVarnel(const QStringList& arguments, const QString& folder,
                            const QByteArray& input = {}) {
    return runProgram({arguments, folder, input});
}

} // namespace varnel::testing
