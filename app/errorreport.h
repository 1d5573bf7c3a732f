#pragma once

#include <QString>

namespace varnel {

class UserInterface;

// Where a report asks the user to send the screenshot.
inline constexpr char16_t SupportEmail[] = u"support@varnel.app";

QString errorReportText(const QString& description, const QString& location, int line);
void ShowErrorReport(UserInterface& ui, const QString& description, const QString& location,
                     int line);

namespace locations {
inline const QString FormLoad = QStringLiteral("in Varnel2021/08/31.Form1.Form_Load ");
inline const QString PushButton1 = QStringLiteral("in Varnel2021/08/31.Form1.PushButton1_Click ");
inline const QString PushButton11 = QStringLiteral("in Varnel2021/08/31.Form1.PushButton11_Click ");
inline const QString PushButton3 = QStringLiteral("in Varnel2021/08/31.Form1.PushButton3_Click ");
inline const QString PushButton9 = QStringLiteral("in Varnel2021/08/31.Form1.PushButton9_Click ");
inline const QString PushButton4 = QStringLiteral("in Varnel2021/08/31.Form1.PushButton4_Click ");
inline const QString FolderWalk =
    QStringLiteral("in Brannick2021/08/31.AddFolder.GetSubDirectories2016 ");
inline const QString PushButton7 = QStringLiteral("in Varnel2021/08/31.Form1.PushButton7_Click ");
inline const QString PushButton5 = QStringLiteral("in Varnel2021/08/31.Form1.PushButton5_Click ");
inline const QString PushButton6 = QStringLiteral("in Varnel2021/08/31.Form1.PushButton6_Click ");
inline const QString PushButton2 = QStringLiteral("in Varnel2021/08/31.Form1.PushButton2_Click ");
inline const QString PushButton8 = QStringLiteral("in Varnel2021/08/31.Form1.PushButton8_Click ");
} // namespace locations

} // namespace varnel
