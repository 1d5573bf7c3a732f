#include "errorreport.h"

#include "userinterface.h"

namespace varnel {

QString errorReportText(const QString& description, const QString& location, int line) {
    // CR CR without line feeds between the paragraphs: that is what users have always
    // been sending to support, and the box renders it as one empty row.
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") +
           QString::number(line) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") +
           QString::fromUtf16(SupportEmail);
}

void showErrorReport(UserInterface& ui, const QString& description, const QString& location,
                     int line) {
    ui.showMessage(errorReportText(description, location, line),
                   QStringLiteral("Application Error"), MessageIcon::Warning);
}

} // namespace varnel
