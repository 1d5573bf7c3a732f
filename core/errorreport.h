#pragma once

#include <QString>

namespace varnel {

class UserInterface;

// Where a report asks the user to send the screenshot.
inline constexpr char16_t SupportEmail[] = u"support@varnel.app";

QString errorReportText(const QString& description, const QString& location, int line);
void showErrorReport(UserInterface& ui, const QString& description, const QString& location,
                     int line);

// Where each report says it happened, as support has always read it: these strings are
// data and stay byte for byte.
namespace locations {
inline const QString startUp = QStringLiteral("in Varnel2021/08/31.Form1.Form_Load ");
inline const QString addOneItem = QStringLiteral("in Varnel2021/08/31.Form1.PushButton1_Click ");
inline const QString loadSampleData =
    QStringLiteral("in Varnel2021/08/31.Form1.PushButton11_Click ");
inline const QString clearInputList =
    QStringLiteral("in Varnel2021/08/31.Form1.PushButton3_Click ");
inline const QString clearResultsList =
    QStringLiteral("in Varnel2021/08/31.Form1.PushButton9_Click ");
inline const QString loadTextFiles = QStringLiteral("in Varnel2021/08/31.Form1.PushButton4_Click ");
inline const QString folderWalk =
    QStringLiteral("in Brannick2021/08/31.AddFolder.GetSubDirectories2016 ");
inline const QString extractOutOfOrderLines =
    QStringLiteral("in Varnel2021/08/31.Form1.PushButton7_Click ");
inline const QString showCorrectOrder =
    QStringLiteral("in Varnel2021/08/31.Form1.PushButton5_Click ");
inline const QString saveResultsAsText =
    QStringLiteral("in Varnel2021/08/31.Form1.PushButton6_Click ");
inline const QString exportResultsToSpreadsheet =
    QStringLiteral("in Varnel2021/08/31.Form1.PushButton2_Click ");
inline const QString copyResultsToClipboard =
    QStringLiteral("in Varnel2021/08/31.Form1.PushButton8_Click ");
} // namespace locations

} // namespace varnel
