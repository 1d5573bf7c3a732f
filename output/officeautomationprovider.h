#pragma once

#include "output/uno/officebackend.h"
#include "spreadsheetautomation.h"

#include <QString>

#include <functional>

namespace varnel {

// Reaches LibreOffice Calc through a backend library loaded only when asked, so the
// program starts and runs where LibreOffice, or the backend, is not installed.
class OfficeAutomationProvider : public AutomationProvider {
public:
    // The program's provider: the backend in the application folder, the user's own office,
    // on screen. waitStep runs between connection attempts while the office starts, and
    // runAside runs its longer waits (see OfficeLaunchOptions).
    explicit OfficeAutomationProvider(
        std::function<void()> waitStep = {},
        std::function<void(const std::function<void()>&)> runAside = {});
    // backendFolder empty: the application folder.
    explicit OfficeAutomationProvider(OfficeLaunchOptions options, QString backendFolder = {});

    std::unique_ptr<AutomationApplication> createApplication() override;

    // The backend library loaded from backendFolder (empty: the application folder).
    static QString backendPath(const QString& backendFolder = {});

    // The office process the last createApplication started, even when it then failed to
    // connect; 0 when none was started.
    qint64 officeProcessId() const { return m_officeProcessId; }

private:
    OfficeFactory factory() const;

    OfficeLaunchOptions m_options;
    QString m_backendFolder;
    qint64 m_officeProcessId = 0;
};

} // namespace varnel
