#include "commands/saving.h"
#include "core/errorreport.h"
#include "core/failure.h"
#include "support/commandform.h"
#include "support/testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace varnel;
using namespace varnel::testing;

namespace {

QStringList manyResults(int count) {
    QStringList results;
    for (int i = 0; i < count; ++i)
        results.append(QStringLiteral("result number %1 with some words after it").arg(i));
    return results;
}

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

struct Form : CommandForm {
    void save(const QString& path) {
        ui.saveAnswers.append(path);
        saveResultsAsText(state);
    }
};

const QByteArray oldContent("old content\r\n");

} // namespace

class TestSaveText : public QObject {
    Q_OBJECT
private slots:
    void init();
    void bytes_data();
    void bytes();
    void overwrite_data();
    void overwrite();
    void cannotCreate_data();
    void cannotCreate();
    void writesStopPartWay_data();
    void writesStopPartWay();
    void resultsClearedDuringAYield();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_old; // an existing file
};

void TestSaveText::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    m_old = m_dir->filePath("old.txt");
    writeFile(m_old, oldContent);
}

void TestSaveText::bytes_data() {
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("beta alpha") << QStringList{"beta", "alpha"}
                                << QByteArray::fromHex("626574610D0A616C7068610D0A");
    QTest::newRow("one x") << QStringList{"x"} << QByteArray::fromHex("780D0A");
    QTest::newRow("no results") << QStringList{} << QByteArray();
    QTest::newRow("empty result") << QStringList{"a", ""} << QByteArray("a\r\n\r\n");
    QTest::newRow("blanks and tabs kept") << QStringList{"  a\t "} << QByteArray("  a\t \r\n");
    QTest::newRow("UTF-8 without mark")
        << QStringList{QStringLiteral("caf\u00e9")} << QByteArray("caf\xC3\xA9\r\n");
}

void TestSaveText::bytes() {
    QFETCH(QStringList, results);
    QFETCH(QByteArray, bytes);
    const QString path = m_dir->filePath("out"); // no extension gets added
    Form form;
    form.state.results().appendBatch(results);
    form.save(path);
    QCOMPARE(contentsOf(path), bytes);
    QVERIFY(form.ui.questions.isEmpty());
    QVERIFY(form.ui.messages.isEmpty());
    QCOMPARE(form.state.pointer(), Pointer::Arrow);
    QCOMPARE(entriesOf(m_dir->path()), (QStringList{"old.txt", "out"}));
}

void TestSaveText::overwrite_data() {
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Pointer>("pointer");
    QTest::newRow("Yes replaces") << true << QByteArray("new\r\n") << Pointer::Arrow;
    QTest::newRow("No leaves the file") << false << oldContent << Pointer::Default;
}

void TestSaveText::overwrite() {
    QFETCH(bool, yes);
    QFETCH(QByteArray, bytes);
    QFETCH(Pointer, pointer);
    Form form;
    form.state.results().append(QStringLiteral("new"));
    form.ui.yesNoAnswers.append(yes);
    form.save(m_old);
    QCOMPARE(form.ui.questions, QStringList{"Are you sure you wish to overwrite " + m_old + " ?"});
    QCOMPARE(contentsOf(m_old), bytes);
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
    QVERIFY(QDir(m_dir->path()).mkdir("sub"));
    Form form;
    form.state.results().appendBatch(manyResults(500));
    form.save(m_dir->filePath(name));
    // One report for the file, none per result.
    const QStringList reports = errorReports(form.ui);
    QCOMPARE(reports.size(), 1);
    QVERIFY(reports.first().contains("\r\n" + locations::saveResultsAsText + "at line 130\r\r"));
    QCOMPARE(form.state.pointer(), Pointer::Arrow);
    QCOMPARE(entriesOf(m_dir->path()), (QStringList{"old.txt", "sub"}));
}

void TestSaveText::writesStopPartWay_data() {
    QTest::addColumn<QString>("stop");
    QTest::newRow("file size limit") << "limit";
    QTest::newRow("full file system") << "tmpfs";
    QTest::newRow("full device") << "/dev/full";
}

void TestSaveText::writesStopPartWay() {
    QFETCH(QString, stop);
    QString folder = m_dir->path();
    struct Unmount {
        QByteArray path;
        ~Unmount() {
            if (!path.isEmpty())
                ::umount2(path.constData(), MNT_DETACH);
        }
    } unmount;
    struct stat device {};
    if (stop == u"tmpfs") {
        folder = m_dir->filePath("small");
        QVERIFY(QDir().mkdir(folder));
        if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("mounting a small file system is not permitted here");
        unmount.path = QFile::encodeName(folder);
        writeFile(folder + "/old.txt", oldContent);
    } else if (stop == u"/dev/full" &&
               (::stat("/dev/full", &device) != 0 || !S_ISCHR(device.st_mode))) {
        QSKIP("no /dev/full here");
    }
    const QString path = stop.startsWith(u'/') ? stop : folder + "/old.txt";

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
    form.save(path);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);

    const QStringList reports = errorReports(form.ui);
    QCOMPARE(reports.size(), 1);
    QVERIFY(reports.first().startsWith("Disk full\r\n" + locations::saveResultsAsText));
    QCOMPARE(form.state.pointer(), Pointer::Arrow);
    if (stop.startsWith(u'/')) {
        // Written to, never replaced by a file of that name.
        struct stat after;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &after), 0);
        QVERIFY(S_ISCHR(after.st_mode));
        QCOMPARE(after.st_rdev, device.st_rdev);
    } else {
        QCOMPARE(contentsOf(path), oldContent);
        QCOMPARE(entriesOf(folder), QStringList{"old.txt"});
    }
}

void TestSaveText::resultsClearedDuringAYield() {
    Form form;
    form.yieldEveryLine();
    form.state.results().appendBatch(manyResults(5000));
    QTimer::singleShot(0, [&form] { form.state.results().clear(); });
    form.save(m_old);
    QCOMPARE(reportHeads(form.ui),
             QStringList{"Index out of bounds\r\n" + locations::saveResultsAsText + "at line 136"});
    QCOMPARE(contentsOf(m_old), oldContent);
    QCOMPARE(entriesOf(m_dir->path()), QStringList{"old.txt"});
}

QTEST_GUILESS_MAIN(TestSaveText)
#include "tst_savetext.moc"
