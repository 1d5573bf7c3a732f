#pragma once

#include "lists/linelistmodel.h"
#include "support/scripteduserinterface.h"

#include <QFile>
#include <QTest>

namespace varnel::testing {

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

inline QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

inline QStringList itemsOf(const LineListModel& model) {
    QStringList items;
    for (qsizetype i = 1; i <= model.count(); ++i)
        items.append(model.text(i));
    return items;
}

// The texts of the error reports among the boxes shown.
inline QStringList errorReports(const ScriptedUserInterface& ui) {
    QStringList reports;
    for (const auto& m : ui.messages)
        if (m.title == QStringLiteral("Application Error"))
            reports.append(m.text);
    return reports;
}

// Each error report's description and where it happened, without the request after them:
// "Disk full\r\nin ...PushButton6_Click at line 134".
inline QStringList reportHeads(const ScriptedUserInterface& ui) {
    QStringList heads;
    for (const QString& report : errorReports(ui))
        heads.append(report.section(QStringLiteral("\r\r"), 0, 0));
    return heads;
}

} // namespace varnel::testing
