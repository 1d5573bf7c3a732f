#include "commands/saving.h"
#include "core/errorreport.h"
#include "core/failure.h"
#include "files/filesystem.h"
#include "tests/support/commandform.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

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
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                  QDir::System);
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
    void cancelled_data();
    void cancelled();
    void changedAfterTheQuestion_data();
    void changedAfterTheQuestion();

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
    QTest::newRow("one-byte and wider lines")
        << QStringList{QStringLiteral("\u00ff\u00c0"), QStringLiteral("\u03c9")}
        << QByteArray("\xC3\xBF\xC3\x80\r\n\xCF\x89\r\n");
    // The lowest character that needs two bytes, never its one Latin-1 byte.
    QTest::newRow("U+0080 in a one-byte line")
        << QStringList{QStringLiteral("a\u0080")} << QByteArray("a\xC2\x80\r\n");
    // A dropped path keeps a name that is not UTF-8 byte for byte; saved as U+FFFD it would
    // no longer name its file.
    QTest::newRow("path not UTF-8 written as its bytes")
        << QStringList{decodeFileName("/d/f\xff\xc3\xa9")} << QByteArray("/d/f\xff\xc3\xa9\r\n");
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
    QTest::addColumn<bool>("link"); // the path picked is a link to the old file
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Pointer>("pointer");
    QTest::newRow("Yes replaces") << true << false << QByteArray("new\r\n") << Pointer::Arrow;
    QTest::newRow("Yes through a link replaces what it names")
        << true << true << QByteArray("new\r\n") << Pointer::Arrow;
    QTest::newRow("No leaves the file") << false << false << oldContent << Pointer::Default;
}

void TestSaveText::overwrite() {
    QFETCH(bool, yes);
    QFETCH(bool, link);
    QFETCH(QByteArray, bytes);
    QFETCH(Pointer, pointer);
    const QString picked = link ? m_dir->filePath("link") : m_old;
    QVERIFY(!link || QFile::link(m_old, picked));
    const auto permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                             QFileDevice::ReadUser | QFileDevice::WriteUser |
                             QFileDevice::ReadGroup;
    QVERIFY(QFile::setPermissions(m_old, permissions));
    Form form;
    form.state.results().append(QStringLiteral("new"));
    form.ui.yesNoAnswers.append(yes);
    form.save(picked);
    QCOMPARE(form.ui.questions, QStringList{"Are you sure you wish to overwrite " + picked + " ?"});
    QCOMPARE(contentsOf(m_old), bytes);
    // The new file takes the old one's place as it was: its permissions, the link to it.
    QCOMPARE(QFile::permissions(m_old), permissions);
    QCOMPARE(QFileInfo(picked).isSymLink(), link);
    QVERIFY(form.ui.messages.isEmpty());
    QCOMPARE(form.state.pointer(), pointer);
}

void TestSaveText::cannotCreate_data() {
    QTest::addColumn<QString>("name"); // in a folder that also holds "sub", "pipe" and "socket"
    QTest::addColumn<QString>("report");
    const QString notAFile = QStringLiteral("Path/File access error");
    QTest::newRow("missing folder") << "no such folder/out.txt"
                                    << "Path not found";
    QTest::newRow("a folder of that name") << "sub" << notAFile;
    // Opening a pipe for writing waits for a reader: it would hold the window for good.
    QTest::newRow("named pipe without a reader") << "pipe" << notAFile;
    QTest::newRow("socket") << "socket" << notAFile;
}

void TestSaveText::cannotCreate() {
    QFETCH(QString, name);
    QFETCH(QString, report);
    QVERIFY(QDir(m_dir->path()).mkdir("sub"));
    QCOMPARE(::mkfifo(QFile::encodeName(m_dir->filePath("pipe")).constData(), 0600), 0);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(m_dir->filePath("socket")).constData(),
             sizeof address.sun_path);
    QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const auto types = [this] {
        QList<uint> types;
        for (const char* entry : {"sub", "pipe", "socket"}) {
            struct stat status {};
            ::lstat(QFile::encodeName(m_dir->filePath(entry)).constData(), &status);
            types.append(status.st_mode & S_IFMT);
        }
        return types;
    };
    const QList<uint> before = types();
    Form form;
    form.state.results().appendBatch(manyResults(500));
    form.ui.yesNoAnswers.append(true);
    form.save(m_dir->filePath(name));
    ::close(listener);
    // One report for the file, none per result; everything stays what it was.
    QCOMPARE(reportHeads(form.ui),
             QStringList{report + "\r\n" + locations::saveResultsAsText + "at line 130"});
    QCOMPARE(form.state.pointer(), Pointer::Arrow);
    QCOMPARE(entriesOf(m_dir->path()), (QStringList{"old.txt", "pipe", "socket", "sub"}));
    QCOMPARE(types(), before);
    QCOMPARE(contentsOf(m_old), oldContent);
}

void TestSaveText::writesStopPartWay_data() {
    QTest::addColumn<QString>("stop");
    QTest::addColumn<QString>("report");
    QTest::newRow("file size limit") << "limit"
                                     << "File too large";
    QTest::newRow("full file system") << "tmpfs"
                                      << "Disk full";
    QTest::newRow("full device") << "/dev/full"
                                 << "Disk full";
}

void TestSaveText::writesStopPartWay() {
    QFETCH(QString, stop);
    QFETCH(QString, report);
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
    QVERIFY(reports.first().startsWith(report + "\r\n" + locations::saveResultsAsText));
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

void TestSaveText::cancelled_data() {
    QTest::addColumn<bool>("replacing");
    QTest::newRow("over an old file") << true;
    QTest::newRow("a new file") << false;
}

// A cancel part way leaves the old file exactly as it was, makes no new one, and leaves no
// temporary beside it; the summary says where it stopped.
void TestSaveText::cancelled() {
    QFETCH(bool, replacing);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    Form form;
    form.yieldEveryLine();
    form.state.results().appendBatch(manyResults(5000));
    const auto cancel = onTurn(100, [&form] { form.state.progress().cancel(); });
    form.save(replacing ? m_old : m_dir->filePath("new.txt"));
    QVERIFY(form.ui.messages.isEmpty());
    QCOMPARE(contentsOf(m_old), oldContent);
    QCOMPARE(entriesOf(m_dir->path()), QStringList{"old.txt"});
    QCOMPARE(form.state.progress().text(),
             QStringLiteral("Cancelled at line 100 of 5,000; the file was left as it was"));
    // The next save is not cancelled by this one's request.
    form.save(m_old);
    QCOMPARE(contentsOf(m_old).count("\r\n"), 5000);
    QCOMPARE(form.state.progress().text(), QStringLiteral("Saved 5,000 lines"));
}

void TestSaveText::changedAfterTheQuestion_data() {
    QTest::addColumn<QString>("change"); // by another program, while the save runs
    QTest::addColumn<QByteArray>("left");
    QTest::newRow("appended to") << "append" << oldContent + "theirs\r\n";
    QTest::newRow("replaced") << "replace" << QByteArray("theirs\r\n");
    QTest::newRow("removed") << "remove" << QByteArray();
}

void TestSaveText::changedAfterTheQuestion() {
    // The Yes was for the file as it was then: another program's file is not saved over.
    QFETCH(QString, change);
    QFETCH(QByteArray, left);
    Form form;
    form.yieldEveryLine();
    form.state.results().appendBatch(manyResults(500));
    const auto other = onTurn(10, [&] {
        if (change == u"append") {
            QFile file(m_old);
            QVERIFY(file.open(QIODevice::Append) && file.write("theirs\r\n") == 8);
        } else if (change == u"replace") {
            writeFile(m_dir->filePath("theirs.txt"), "theirs\r\n");
            QVERIFY(::rename(QFile::encodeName(m_dir->filePath("theirs.txt")).constData(),
                             QFile::encodeName(m_old).constData()) == 0);
        } else {
            QVERIFY(QFile::remove(m_old));
        }
    });
    form.save(m_old);
    QCOMPARE(form.ui.questions.size(), 1);
    QCOMPARE(reportHeads(form.ui),
             QStringList{"File changed by another program after you chose to overwrite it; it "
                         "was left as that program left it\r\n" +
                         locations::saveResultsAsText + "at line 140"});
    QCOMPARE(QFile::exists(m_old), !left.isEmpty());
    if (!left.isEmpty())
        QCOMPARE(contentsOf(m_old), left);
    QCOMPARE(entriesOf(m_dir->path()).size(), int(!left.isEmpty()));
    QVERIFY(form.state.progress().text().isEmpty());
}

QTEST_GUILESS_MAIN(TestSaveText)
#include "tst_savetext.moc"
