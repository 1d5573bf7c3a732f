#include "officelaunch.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include <algorithm>

namespace varnel::office {

QString officeProgram(const OfficeLaunchOptions& options) {
    if (!options.program.isEmpty())
        return QFileInfo(options.program).isExecutable() ? options.program : QString();
    const QFileInfo installed(QStringLiteral(VARNEL_OFFICE_PROGRAM_DIR "/soffice"));
    if (installed.isExecutable())
        return installed.filePath();
    for (const char* name : {"soffice", "libreoffice"})
        if (auto found = QStandardPaths::findExecutable(QString::fromLatin1(name));
            !found.isEmpty())
            return found;
    return {};
}

void runAside(const OfficeLaunchOptions& options, const std::function<void()>& work) {
    if (options.runAside)
        options.runAside(work);
    else
        work();
}

qint64 startOffice(const QString& program, const OfficeLaunchOptions& options,
                   const QString& pipeName) {
    QStringList arguments{QStringLiteral("--nologo"), QStringLiteral("--norestore"),
                          QStringLiteral("--nodefault"), QStringLiteral("--nolockcheck")};
    if (options.headless)
        arguments << QStringLiteral("--headless");
    arguments << QStringLiteral("--accept=pipe,name=%1;urp;").arg(pipeName);
    if (!options.profileDirectory.isEmpty())
        arguments << QStringLiteral("-env:UserInstallation=%1")
                         .arg(QUrl::fromLocalFile(QDir(options.profileDirectory).absolutePath())
                                  .toString(QUrl::FullyEncoded));

    // Detached: the document belongs to the user, and stays when this program ends.
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(QDir::homePath());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        throw failures::cannotCreateObject(
            QStringLiteral("LibreOffice could not be started (%1)").arg(process.errorString()));
    return pid;
}

Reference<css::uno::XComponentContext> connectWithin(const QString& pipeName,
                                                     const OfficeLaunchOptions& options) {
    const QDeadlineTimer deadline(options.connectTimeoutMs);
    QString lastError;
    for (;;) {
        try {
            // The first attempt also loads what the runtime needs to talk to an office.
            Reference<css::uno::XComponentContext> context;
            runAside(options, [&] { context = uno::connect(pipeName); });
            return context;
        } catch (const css::uno::Exception& e) {
            // Not listening yet, or still setting up: both pass while the office starts.
            lastError = toQString(e.Message);
        }
        if (deadline.hasExpired())
            break;
        const QDeadlineTimer nextAttempt(std::min<qint64>(250, deadline.remainingTime()));
        do {
            if (options.waitStep)
                options.waitStep();
            QThread::msleep(20);
        } while (!nextAttempt.hasExpired());
    }
    throw failures::cannotCreateObject(
        QStringLiteral("LibreOffice did not answer in time (%1)").arg(lastError));
}

} // namespace varnel::office
