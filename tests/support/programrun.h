#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

namespace varnel::testing {

// What the real program did.
struct ProgramRun {
    int status = -1; // -1: it did not end by itself within a minute
    QByteArray out;
    QByteArray err;
};

// The real `varnel`, built beside the tests, run in `folder` with `input` on its standard
// input.
inline ProgramRun runVarnel(const QStringList& arguments, const QString& folder,
                            const QByteArray& input = {}) {
    QProcess program;
    program.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/varnel"));
    program.setArguments(arguments);
    program.setWorkingDirectory(folder);
    program.start();
    program.write(input);
    program.closeWriteChannel();
    if (!program.waitForFinished(60000) || program.exitStatus() != QProcess::NormalExit)
        return {};
    return {program.exitCode(), program.readAllStandardOutput(), program.readAllStandardError()};
}

} // namespace varnel::testing
