#include "app/errorreport.h"
#include "app/windowstate.h"
#include "lists/loadtext.h"
#include "support/scripteduserinterface.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace varnel;
using varnel::testing::ScriptedUserInterface;

namespace {

QStringList itemsOf(const LineListModel& model) {
    QStringList items;
    for (qsizetype i = 1; i <= model.count(); ++i)
        items.append(model.text(i));
    return items;
}

QStringList errorReports(const ScriptedUserInterface& ui) {
    QStringList reports;
    for (const auto& m : ui.messages)
        if (m.title == QStringLiteral("Application Error"))
            reports.append(m.text);
    return reports;
}

struct Form {
    ScriptedUserInterface ui;
    WindowState state{ui};
    QAbstractItemModelTester inputTester{&state.input()};
    Form() { state.setApplicationTitle(QStringLiteral("Varnel")); }
};

} // namespace

class TestLoadText : public QObject {
    Q_OBJECT
private slots:
    void init();
    void dialogRequest();
    void cancelDoesNothing();
    void picks_data();
    void picks();
    void oneRowInsertionPerFile();
    void fileTooLargeForMemory();

private:
    QString makeFile(const QString& name, const QByteArray& bytes);
    QTemporaryDir m_folder;
};

void TestLoadText::init() {
    QVERIFY(m_folder.isValid());
}

QString TestLoadText::makeFile(const QString& name, const QByteArray& bytes) {
    const QString path = m_folder.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestLoadText::dialogRequest() {
    Form form;
    PushButton4_Click(form.state);
    QCOMPARE(form.ui.dialogs.size(), 1);
    QCOMPARE(form.ui.dialogs.first().title,
             QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files"));
    QCOMPARE(form.ui.dialogs.first().filters,
             (QStringList{"Text Files (*.txt)", "All Files (*.*)"}));
}

void TestLoadText::cancelDoesNothing() {
    Form form;
    form.state.input().append(QStringLiteral("kept"));
    form.state.setPointer(Pointer::Arrow);
    PushButton4_Click(form.state);
    QCOMPARE(itemsOf(form.state.input()), QStringList{"kept"});
    QVERIFY(form.ui.messages.isEmpty());
    QCOMPARE(form.state.pointer(), Pointer::Arrow);
}

void TestLoadText::picks_data() {
    // Files in the temporary folder: a.txt "a1 a2", b.txt "b1", empty.txt, the folder "sub".
    QTest::addColumn<QStringList>("picked");
    QTest::addColumn<QStringList>("items");    // after the item "old" already there
    QTest::addColumn<QStringList>("messages"); // "File not found", or a report's second row

    const QString notFound = QStringLiteral("File not found");
    QTest::newRow("one file") << QStringList{"a.txt"} << QStringList{"old", "a1", "a2"}
                              << QStringList{};
    QTest::newRow("in the dialog's order")
        << QStringList{"b.txt", "a.txt", "b.txt"} << QStringList{"old", "b1", "a1", "a2", "b1"}
        << QStringList{};
    QTest::newRow("empty file adds nothing")
        << QStringList{"empty.txt"} << QStringList{"old"} << QStringList{};
    QTest::newRow("missing file alone")
        << QStringList{"missing.txt"} << QStringList{"old"} << QStringList{notFound};
    QTest::newRow("missing file among others")
        << QStringList{"a.txt", "missing.txt", "b.txt"} << QStringList{"old", "a1", "a2", "b1"}
        << QStringList{notFound};
    QTest::newRow("folder alone") << QStringList{"sub"} << QStringList{"old"}
                                  << QStringList{locations::PushButton4 + "at line 120"};
    QTest::newRow("folder among others") << QStringList{"sub", "b.txt"} << QStringList{"old", "b1"}
                                         << QStringList{locations::PushButton4 + "at line 134"};
    QTest::newRow("doubled slashes from a joined path")
        << QStringList{"//a.txt", "///b.txt"} << QStringList{"old", "a1", "a2", "b1"}
        << QStringList{};
}

void TestLoadText::picks() {
    QFETCH(QStringList, picked);
    QFETCH(QStringList, items);
    QFETCH(QStringList, messages);
    makeFile(QStringLiteral("a.txt"), "a1\r\na2\r\n");
    makeFile(QStringLiteral("b.txt"), "b1");
    makeFile(QStringLiteral("empty.txt"), "");
    QVERIFY(QDir(m_folder.path()).mkpath(QStringLiteral("sub")));
    QStringList paths;
    for (const QString& name : picked)
        paths.append(m_folder.path() + (name.startsWith(u'/') ? name : u'/' + name));

    Form form;
    form.state.input().append(QStringLiteral("old"));
    form.ui.openAnswers.append(paths);
    PushButton4_Click(form.state);

    QCOMPARE(itemsOf(form.state.input()), items);
    QStringList seen;
    for (const auto& m : form.ui.messages) {
        if (m.title == QStringLiteral("Application Error")) {
            seen.append(m.text.split(QStringLiteral("\r\n")).value(1).section(u'\r', 0, 0));
        } else {
            QCOMPARE(m.title, QStringLiteral("Varnel"));
            QCOMPARE(m.icon, MessageIcon::None);
            seen.append(m.text);
        }
    }
    QCOMPARE(seen, messages);
    QCOMPARE(form.state.pointer(), Pointer::Default);
}

void TestLoadText::oneRowInsertionPerFile() {
    QByteArray many;
    for (int i = 0; i < 5000; ++i)
        many += "line " + QByteArray::number(i) + "\r\n";
    const QString first = makeFile(QStringLiteral("many.txt"), many);
    const QString second = makeFile(QStringLiteral("few.txt"), "x\ny");
    Form form;
    QSignalSpy inserted(&form.state.input(), &QAbstractItemModel::rowsInserted);
    form.ui.openAnswers.append(QStringList{first, second});
    PushButton4_Click(form.state);
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(form.state.input().count(), 5002);
    QCOMPARE(form.state.input().text(5000), QStringLiteral("line 4999"));
    QCOMPARE(form.state.input().text(5002), QStringLiteral("y"));
}

void TestLoadText::fileTooLargeForMemory() {
    // A sparse file: it claims far more bytes than any machine can hold, without taking
    // the disk space.
    const QString huge = makeFile(QStringLiteral("huge.txt"), "");
    QFile file(huge);
    if (!file.resize(qint64(1) << 40))
        QSKIP("this file system holds no sparse file that large");
    const QString small = makeFile(QStringLiteral("small.txt"), "s");
    Form form;
    form.state.input().append(QStringLiteral("old"));
    form.ui.openAnswers.append(QStringList{huge, small});
    PushButton4_Click(form.state);
    const QStringList reports = errorReports(form.ui);
    QCOMPARE(reports.size(), 1);
    QVERIFY(reports.first().startsWith(QStringLiteral("Out of memory\r\n") +
                                       locations::PushButton4 + QStringLiteral("at line 134\r\r")));
    QCOMPARE(itemsOf(form.state.input()), (QStringList{"old", "s"}));
    QCOMPARE(form.state.pointer(), Pointer::Default);
}

QTEST_GUILESS_MAIN(TestLoadText)
#include "tst_loadtext.moc"
