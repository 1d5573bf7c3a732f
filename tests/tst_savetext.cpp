#include "app/errorreport.h"
#include "app/failure.h"
#include "app/windowstate.h"
#include "lists/loadtext.h"
#include "output/savetext.h"
#include "support/scripteduserinterface.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

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

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QStringList manyResults(int count) {
    QStringList results;
    for (int i = 0; i < count; ++i)
        results.append(QStringLiteral("result number %1 with some words after it").arg(i));
    return results;
}

struct Form {
    ScriptedUserInterface ui;
    WindowState state{ui};
    Form() { state.setApplicationTitle(QStringLiteral("Varnel")); }
    void save(const QString& path) {
        ui.saveAnswers.append(path);
        PushButton6_Click(state);
    }
};

} // namespace

class TestSaveText : public QObject {
    Q_OBJECT
private slots:
    void init();
    void bytes_data();
    void bytes();
    void cancelDoesNothing();
    void overwrite_data();
    void overwrite();
    void cannotCreate_data();
    void cannotCreate();
    void writesStopPartWay_data();
    void writesStopPartWay();
    void fullDevice();
    void resultsShortenedDuringSave();
    void closingDuringSaveKeepsOldFile();
    void roundTrip();

private:
    std::unique_ptr<QTemporaryDir> m_dir; // a fresh one for every test
    QString m_old;                        // an existing file with old content
};

void TestSaveText::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_old = m_dir->filePath(QStringLiteral("old.txt"));
    writeFile(m_old, "old content\r\n");
}

void TestSaveText::bytes_data() {
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("beta alpha") << QStringList{"beta", "alpha"}
                                << QByteArray::fromHex("626574610D0A616C7068610D0A");
    QTest::newRow("one x") << QStringList{"x"} << QByteArray::fromHex("780D0A");
    QTest::newRow("no results") << QStringList{} << QByteArray();
    QTest::newRow("empty result") << QStringList{"a", "", "b"} << QByteArray("a\r\n\r\nb\r\n");
    QTest::newRow("blanks and tabs kept")
        << QStringList{"  a\t ", "\t"} << QByteArray("  a\t \r\n\t\r\n");
    QTest::newRow("UTF-8 without mark") << QStringList{QStringLiteral("caf\u00e9 \u20ac")}
                                        << QByteArray("caf\xC3\xA9 \xE2\x82\xAC\r\n");
}

void TestSaveText::bytes() {
    QFETCH(QStringList, results);
    QFETCH(QByteArray, bytes);
    // No extension is added to a name typed without one.
    const QString path = m_dir->filePath(QStringLiteral("out"));
    Form form;
    form.state.results().appendBatch(results);
    form.save(path);
    QCOMPARE(contentsOf(path), bytes);
    QCOMPARE(form.ui.dialogs.size(), 1);
    QCOMPARE(form.ui.dialogs.first().title, QStringLiteral("Save"));
    QCOMPARE(form.ui.dialogs.first().filters,
             (QStringList{"Text Files (*.txt)", "All Files (*.*)"}));
    QVERIFY(form.ui.questions.isEmpty());
    QVERIFY(form.ui.messages.isEmpty());
    QCOMPARE(form.state.pointer(), Pointer::Arrow);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), (QStringList{"old.txt", "out"}));
}

void TestSaveText::cancelDoesNothing() {
    Form form;
    form.state.results().append(QStringLiteral("r"));
    PushButton6_Click(form.state);
    QCOMPARE(form.ui.dialogs.size(), 1);
    QVERIFY(form.ui.messages.isEmpty());
    QCOMPARE(form.state.pointer(), Pointer::Default);
}

void TestSaveText::overwrite_data() {
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Pointer>("pointer");
    QTest::newRow("Yes replaces the old content")
        << true << QByteArray("new\r\n") << Pointer::Arrow;
    QTest::newRow("No leaves the file untouched")
        << false << QByteArray("old content\r\n") << Pointer::Default;
}

void TestSaveText::overwrite() {
    QFETCH(bool, yes);
    QFETCH(QByteArray, bytes);
    QFETCH(Pointer, pointer);
    const QDateTime stamp = QFileInfo(m_old).lastModified();
    Form form;
    form.state.results().append(QStringLiteral("new"));
    form.ui.yesNoAnswers.append(yes);
    form.save(m_old);
    QCOMPARE(form.ui.questions,
             QStringList{QStringLiteral("Are you sure you wish to overwrite ") + m_old + " ?"});
    QCOMPARE(contentsOf(m_old), bytes);
    if (!yes)
        QCOMPARE(QFileInfo(m_old).lastModified(), stamp);
    QVERIFY(form.ui.messages.isEmpty());
    QCOMPARE(form.state.pointer(), pointer);
}

void TestSaveText::cannotCreate_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("missing folder") << "no such folder/out.txt";
    QTest::newRow("a folder of that name") << "sub";
}

void TestSaveText::cannotCreate() {
    QFETCH(QString, name);
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("sub")));
    Form form;
    form.state.results().appendBatch(manyResults(500));
    form.save(m_dir->filePath(name));
    // One report for the file, none per result.
    const QStringList reports = errorReports(form.ui);
    QCOMPARE(reports.size(), 1);
    QVERIFY(reports.first().contains(QStringLiteral("\r\n") + locations::PushButton6 +
                                     QStringLiteral("at line 130\r\r")));
    QCOMPARE(form.state.pointer(), Pointer::Arrow);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{"old.txt", "sub"}));
    QVERIFY(QFileInfo(m_dir->filePath(QStringLiteral("sub"))).isDir());
}

void TestSaveText::writesStopPartWay_data() {
    QTest::addColumn<QString>("stop");
    QTest::newRow("file size limit") << "limit";
    QTest::newRow("full file system") << "tmpfs";
}

void TestSaveText::writesStopPartWay() {
    QFETCH(QString, stop);
    // The old file lives where the writes will run out of room.
    QString folder = m_dir->path();
    struct Unmount {
        QString path;
        ~Unmount() {
            if (!path.isEmpty())
                ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
        }
    } unmount;
    if (stop == u"tmpfs") {
        folder = m_dir->filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkdir(folder));
        if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("mounting a small file system is not permitted here");
        unmount.path = folder;
    }
    const QString old = folder + QStringLiteral("/old.txt");
    writeFile(old, "old content\r\n");

    struct rlimit before;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (stop == u"limit") {
        struct rlimit small = before;
        small.rlim_cur = 64 * 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    Form form;
    form.state.results().appendBatch(manyResults(20000));
    form.save(old);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);

    const QStringList reports = errorReports(form.ui);
    QCOMPARE(reports.size(), 1);
    QVERIFY(reports.first().startsWith(QStringLiteral("Disk full\r\n") + locations::PushButton6));
    QCOMPARE(contentsOf(old), QByteArray("old content\r\n"));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"old.txt"});
    QCOMPARE(form.state.pointer(), Pointer::Arrow);
}

void TestSaveText::fullDevice() {
    const QString full = QStringLiteral("/dev/full");
    struct stat status;
    if (::stat("/dev/full", &status) != 0 || !S_ISCHR(status.st_mode))
        QSKIP("no /dev/full here");
    Form form;
    form.state.results().appendBatch(manyResults(2000));
    form.save(full);
    QCOMPARE(form.ui.questions.size(), 1);
    const QStringList reports = errorReports(form.ui);
    QCOMPARE(reports.size(), 1);
    QVERIFY(reports.first().startsWith(QStringLiteral("Disk full\r\n") + locations::PushButton6));
    // The device is written to, never replaced by a file of that name.
    struct stat after;
    QCOMPARE(::stat("/dev/full", &after), 0);
    QVERIFY(S_ISCHR(after.st_mode));
    QCOMPARE(after.st_rdev, status.st_rdev);
    QCOMPARE(form.state.pointer(), Pointer::Arrow);
}

void TestSaveText::resultsShortenedDuringSave() {
    Form form;
    form.state.pump().setInterval(std::chrono::microseconds(0));
    form.state.results().appendBatch(manyResults(50));
    QTimer::singleShot(0, [&form] { form.state.results().clear(); });
    form.save(m_old);
    const QStringList reports = errorReports(form.ui);
    QCOMPARE(reports.size(), 1);
    QVERIFY(reports.first().startsWith(QStringLiteral("Index out of bounds\r\n") +
                                       locations::PushButton6 + QStringLiteral("at line 136")));
    QCOMPARE(contentsOf(m_old), QByteArray("old content\r\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"old.txt"});
    QCOMPARE(form.state.pointer(), Pointer::Arrow);
}

void TestSaveText::closingDuringSaveKeepsOldFile() {
    Form form;
    form.state.pump().setInterval(std::chrono::microseconds(0));
    form.state.results().appendBatch(manyResults(5000));
    QTimer::singleShot(0, [&form] { form.state.pump().endProgram(); });
    bool ended = false;
    try {
        form.save(m_old);
    } catch (const ProgramEnding&) {
        ended = true;
    }
    QVERIFY(ended);
    QVERIFY(form.ui.messages.isEmpty());
    QCOMPARE(contentsOf(m_old), QByteArray("old content\r\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"old.txt"});
}

void TestSaveText::roundTrip() {
    const QByteArray original("caf\xC3\xA9\r\n  lead and trail  \r\n\ttab\r\n\r\nlast\r\n");
    const QString source = m_dir->filePath(QStringLiteral("source.txt"));
    writeFile(source, original);
    Form form;
    form.ui.openAnswers.append(QStringList{source});
    PushButton4_Click(form.state);
    const QStringList loaded = itemsOf(form.state.input());
    QCOMPARE(loaded.size(), 5);
    form.state.results().appendBatch(loaded);
    const QString saved = m_dir->filePath(QStringLiteral("saved.txt"));
    form.save(saved);
    QCOMPARE(contentsOf(saved), original);
    form.state.input().clear();
    form.ui.openAnswers.append(QStringList{saved});
    PushButton4_Click(form.state);
    QCOMPARE(itemsOf(form.state.input()), loaded);
    QVERIFY(form.ui.messages.isEmpty());
}

QTEST_GUILESS_MAIN(TestSaveText)
#include "tst_savetext.moc"
