#include "officeautomationprovider.h"

#include "core/applicationfolder.h"
#include "core/failure.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include <csignal>

namespace varnel {

OfficeAutomationProvider::OfficeAutomationProvider(
    std::function<void()> waitStep, std::function<void(const std::function<void()>&)> runAside) {
    m_options.waitStep = std::move(waitStep);
    m_options.runAside = std::move(runAside);
}

OfficeAutomationProvider::OfficeAutomationProvider(OfficeLaunchOptions options,
                                                   QString backendFolder)
    : m_options(std::move(options))
    , m_backendFolder(std::move(backendFolder)) {}

QString OfficeAutomationProvider::backendPath(const QString& backendFolder) {
    return QDir(backendFolder.isEmpty() ? applicationFolder() : backendFolder)
        .filePath(QString::fromLatin1(officeBackendFileName));
}

OfficeFactory OfficeAutomationProvider::factory() const {
    const QString path = backendPath(m_backendFolder);
    if (!QFileInfo::exists(path))
        throw failures::cannotCreateObject(
            QStringLiteral("the LibreOffice support of this program is not "
                           "installed (%1 is missing)")
                .arg(QDir::toNativeSeparators(path)));

    // Never unloaded: the office runtime it pulls in does not survive being unloaded, and
    // the objects it hands out may outlive this provider.
    QLibrary library(path);
    if (!library.load())
        throw failures::cannotCreateObject(
            QStringLiteral("LibreOffice could not be loaded (%1)").arg(library.errorString()));
    auto create = reinterpret_cast<OfficeFactory>(library.resolve(officeFactorySymbol));
    if (!create)
        throw failures::cannotCreateObject(
            QStringLiteral("%1 does not match this version of the program")
                .arg(QDir::toNativeSeparators(path)));
    return create;
}

namespace {

// The office is reached over a socket it may close at any moment (closed by the user,
// crashed, ended when its work is done): a write to it then must fail and be reported, not
// end this program. A disposition someone else chose stays.
void surviveClosedConnections() {
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        ::signal(SIGPIPE, SIG_IGN);
}

} // namespace

std::unique_ptr<AutomationApplication> OfficeAutomationProvider::createApplication() {
    m_officeProcessId = 0;
    const OfficeFactory create = factory();
    surviveClosedConnections();
    OfficeLaunchOptions options = m_options;
    options.officeStarted = [this, told = m_options.officeStarted](qint64 pid) {
        m_officeProcessId = pid;
        if (told)
            told(pid);
    };
    return std::unique_ptr<AutomationApplication>(create(options));
}

} // namespace varnel
