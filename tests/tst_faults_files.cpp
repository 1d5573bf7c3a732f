// Files that go wrong under "Load Text From File" and under a drop, in the real window: each
// ends with the list intact, at most one clear message, and the other picked files loaded.

#include "app/mainwindow.h"
#include "commands/dropping.h"
#include "commands/loading.h"
#include "commands/saving.h"
#include "commands/windowstate.h"
#include "core/errorreport.h"
#include "files/systemcalls.h"
#include "tests/support/commandform.h"
#include "tests/support/scripteduserinterface.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace varnel;
using namespace varnel::testing;

namespace {

// The person picks, and the file changes before the program gets to read it.
class ChangingPickInterface : public ScriptedUserInterface {
public:
    std::function<void()> afterPick;
    QStringList openFileNames(const FileDialogRequest& request) override {
        const QStringList picked = ScriptedUserInterface::openFileNames(request);
        if (afterPick)
            afterPick();
        return picked;
    }
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
constexpr bool Sanitized = __has_feature(address_sanitizer);
#else
constexpr bool Sanitized = false;
#endif

// The real window, its lists painted when the test asks.
struct Form {
    ChangingPickInterface ui;
    MainWindow window;
    WindowState& state;
    explicit Form(const QString& folder)
        : window(&ui, folder)
        , state(window.state()) {
        state.input().append(QStringLiteral("old"));
    }
    void load(const QStringList& paths) {
        ui.openAnswers.append(paths);
        window.button("PushButton4")->click();
    }
};

// Root reads what it likes: an unreadable file needs an ordinary user for the moment.
struct OrdinaryUser {
    bool switched = geteuid() == 0 && seteuid(65534) == 0;
    ~OrdinaryUser() {
        if (switched)
            QVERIFY(seteuid(0) == 0);
    }
};

// The most this process has held in memory since the last reset, in bytes.
qint64 peakMemory() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return -1;
}

bool resetPeakMemory() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

} // namespace

class TestFaultsFiles : public QObject {
    Q_OBJECT
private slots:
    void init();
    void badPick_data();
    void badPick();
    void largeFile_data();
    void largeFile();
    void tenThousandNestedFolders();
    void saveIntoReadOnlyFolder();
    void saveWhereACallFails_data();
    void saveWhereACallFails();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_good; // a file picked after the bad one
};

void TestFaultsFiles::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_good = m_dir->filePath(QStringLiteral("good.txt"));
    writeFile(m_good, "g1\r\ng2\r\n");
}

void TestFaultsFiles::badPick_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("lines"); // what the bad file adds
    QTest::addColumn<QString>("message");   // the one box shown, or its description
    const QString notFound = QStringLiteral("File not found");
    const QString notAFile = QStringLiteral("Path/File access error");
    QTest::newRow("removed after the pick") << "removed" << QStringList{} << notFound;
    QTest::newRow("its folder replaced by a file") << "parent" << QStringList{} << notFound;
    QTest::newRow("unreadable after the pick")
        << "unreadable" << QStringList{} << QStringLiteral("Permission denied");
    QTest::newRow("FIFO without a writer") << "fifo" << QStringList{} << notAFile;
    QTest::newRow("socket") << "socket" << QStringList{}
                            << QStringLiteral("No such device or address");
    QTest::newRow("endless device") << "/dev/zero" << QStringList{} << notAFile;
    QTest::newRow("read fails part-way")
        << "/proc/self/mem" << QStringList{} << QStringLiteral("Device I/O error");
    QTest::newRow("NUL bytes") << "nul"
                               << QStringList{QStringView(u"a\0b", 3).toString(),
                                              QString(2, QChar(0))}
                               << QString();
    QTest::newRow("invalid UTF-8 reads as Windows-1252")
        << "latin" << QStringList{QStringLiteral("caf\u00e9 \u201cq\u201d"), "\u00ff"} << QString();
}

void TestFaultsFiles::badPick() {
    QFETCH(QString, kind);
    QFETCH(QStringList, lines);
    QFETCH(QString, message);
    const QString folder = m_dir->filePath(QStringLiteral("folder"));
    QVERIFY(QDir().mkdir(folder));
    const QString path = kind.startsWith(u'/') ? kind : folder + QStringLiteral("/bad.txt");
    if (kind == u"nul")
        writeFile(path, QByteArray("a\0b\r\n\0\0", 7));
    else if (kind == u"latin")
        writeFile(path, "caf\xE9 \x93q\x94\r\n\xFF");
    else if (!kind.startsWith(u'/') && kind != u"socket" && kind != u"fifo")
        writeFile(path, "bad\r\n");
    if (kind == u"fifo")
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    int listener = -1;
    if (kind == u"socket") {
        listener = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
        QCOMPARE(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    struct stat status;
    if (kind.startsWith(u'/') && stat(QFile::encodeName(path).constData(), &status) != 0)
        QSKIP("not on this system");

    Form form(m_dir->path());
    std::optional<OrdinaryUser> user;
    form.ui.afterPick = [&] {
        if (kind == u"removed") {
            QVERIFY(QFile::remove(path));
        } else if (kind == u"parent") {
            QVERIFY(QDir().rename(folder, folder + QStringLiteral(".old")));
            writeFile(folder, "a file now");
        } else if (kind == u"unreadable") {
            QCOMPARE(chmod(QFile::encodeName(path).constData(), 0), 0);
            // The ordinary user still gets to the folders.
            QCOMPARE(chmod(QFile::encodeName(m_dir->path()).constData(), 0711), 0);
            QCOMPARE(chmod(QFile::encodeName(folder).constData(), 0711), 0);
            user.emplace();
        }
    };
    form.load({path, m_good});
    user.reset();
    if (listener >= 0)
        close(listener);

    const QStringList expected = QStringList{"old"} + lines + QStringList{"g1", "g2"};
    QCOMPARE(itemsOf(form.state.input()), expected);
    // "File not found" is a box of its own; anything else is a report on the second file.
    QStringList boxes = reportHeads(form.ui);
    if (message == u"File not found")
        boxes = form.ui.messageTexts();
    else if (!message.isEmpty())
        message += "\r\n" + locations::loadTextFiles + "at line 134";
    QCOMPARE(boxes, message.isEmpty() ? QStringList{} : QStringList{message});
    QCOMPARE(form.state.pointer(), Pointer::Default);
}

void TestFaultsFiles::largeFile_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("sparse"); // a file of NUL bytes that takes no disk space
    QTest::newRow("one line of 100 MB") << qint64(100) << false;
    // Under the sanitizers each character costs several times as much: the same paths over a
    // quarter of the bytes keep the run short.
    QTest::newRow("1 GB of NUL bytes") << qint64(Sanitized ? 256 : 1024) << true;
}

void TestFaultsFiles::largeFile() {
    QFETCH(qint64, size);
    QFETCH(bool, sparse);
    const qint64 bytes = size << 20;
    const QString path = m_dir->filePath(QStringLiteral("large.txt"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (sparse) {
            QVERIFY(file.resize(bytes));
        } else {
            const QByteArray block(1 << 20, 'x');
            for (qint64 written = 0; written < bytes; written += block.size())
                QCOMPARE(file.write(block), block.size());
        }
    }
    Form form(m_dir->path());
    form.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form.window));
    QVERIFY(resetPeakMemory());
    const qint64 before = peakMemory();
    form.load({path, m_good});
    // A paint of both lists lays out what their rows show: the whole line would take minutes
    // and gigabytes.
    form.window.grab();
    // The bytes and the decoded text at once, and nothing on the scale of the file beyond.
    QVERIFY2(peakMemory() - before < bytes * 4,
             qPrintable(QStringLiteral("peak grew by %1 MB").arg((peakMemory() - before) >> 20)));

    const QStringList reports = errorReports(form.ui);
    QVERIFY(reports.size() <= 1);
    LineListModel& input = form.state.input();
    if (reports.isEmpty()) {
        QCOMPARE(input.count(), 4);
        QCOMPARE(qint64(input.textView(2).size()), bytes);
        const LineText line = input.textView(2);
        QCOMPARE(line.at(line.size() - 1), sparse ? u'\0' : u'x');
    } else {
        QVERIFY(reports.first().startsWith("Out of memory\r\n"));
        QCOMPARE(input.count(), 3);
    }
    QCOMPARE(input.text(input.count()), QStringLiteral("g2"));
    QCOMPARE(form.state.pointer(), Pointer::Default);
}

void TestFaultsFiles::tenThousandNestedFolders() {
    // Far deeper than a path can name, so the walk stops at the path limit, about 2000
    // levels down: it must get there without running out of stack, and come back.
    const int depth = 10000;
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("d")));
    writeFile(m_dir->filePath(QStringLiteral("d/top.txt")), "");
    QList<int> fds{open(QFile::encodeName(m_dir->filePath(QStringLiteral("d"))).constData(),
                        O_DIRECTORY | O_RDONLY)};
    for (int i = 0; i < depth && fds.last() >= 0; ++i) {
        QCOMPARE(mkdirat(fds.last(), "d", 0755), 0);
        fds.append(openat(fds.last(), "d", O_DIRECTORY | O_RDONLY));
    }
    QCOMPARE(fds.size(), depth + 1);
    QVERIFY(fds.last() >= 0);
    close(openat(fds.last(), "bottom.txt", O_CREAT | O_WRONLY, 0644));

    Form form(m_dir->path());
    DropQueue queue;
    addDroppedPaths(form.state, queue, {m_dir->filePath(QStringLiteral("d"))});
    unlinkat(fds.last(), "bottom.txt", 0);
    while (fds.size() > 1) {
        close(fds.takeLast());
        unlinkat(fds.last(), "d", AT_REMOVEDIR);
    }
    close(fds.takeLast());

    QVERIFY(form.ui.messages.isEmpty());
    QCOMPARE(itemsOf(form.state.input()),
             (QStringList{"old", m_dir->filePath(QStringLiteral("d/top.txt"))}));
    QVERIFY(!queue.running);
}

void TestFaultsFiles::saveIntoReadOnlyFolder() {
    // The old file itself may be written, but no new one beside it: the text is written into
    // the file itself, as the shell's ">" would, and nothing is left beside it.
    const QString folder = m_dir->filePath(QStringLiteral("locked"));
    const QString old = folder + QStringLiteral("/old.txt");
    QVERIFY(QDir().mkdir(folder));
    writeFile(old, "old\r\n");
    QCOMPARE(chmod(QFile::encodeName(old).constData(), 0666), 0);
    QCOMPARE(chmod(QFile::encodeName(folder).constData(), 0555), 0);
    QCOMPARE(chmod(QFile::encodeName(m_dir->path()).constData(), 0711), 0);
    Form form(m_dir->path());
    form.state.results().append(QStringLiteral("new"));
    form.ui.saveAnswers.append(old);
    {
        const OrdinaryUser user;
        if (!user.switched)
            QSKIP("needs to run as root, to become an ordinary user for a moment");
        form.window.button("PushButton6")->click();
    }
    QCOMPARE(reportHeads(form.ui), QStringList{});
    QCOMPARE(contentsOf(old), QByteArray("new\r\n"));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"old.txt"});
    QCOMPARE(form.state.pointer(), Pointer::Arrow);
}

void TestFaultsFiles::saveWhereACallFails_data() {
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("report");
    QTest::newRow("write") << "write"
                           << "Disk full";
    QTest::newRow("flush") << "flush"
                           << "Device I/O error";
    QTest::newRow("rename") << "rename"
                            << "Permission denied";
    QTest::newRow("close") << "close"
                           << "Device I/O error";
}

void TestFaultsFiles::saveWhereACallFails() {
    QFETCH(QString, call);
    QFETCH(QString, report);
    const QString old = m_dir->filePath(QStringLiteral("old.txt"));
    writeFile(old, "old\r\n");
    const SystemCalls saved = systemCalls();
    const auto restore = qScopeGuard([&saved] { systemCalls() = saved; });
    SystemCalls& calls = systemCalls();
    if (call == u"write")
        calls.write = [](int, const void*, size_t) -> ssize_t { return errno = ENOSPC, -1; };
    else if (call == u"flush")
        calls.fdatasync = [](int) { return errno = EIO, -1; };
    else if (call == u"rename")
        calls.renameat = [](int, const char*, int, const char*) { return errno = EACCES, -1; };
    else if (call == u"close")
        calls.close = [](int fd) { return ::close(fd), errno = EIO, -1; };
    CommandForm form;
    form.state.results().append(QStringLiteral("new"));
    form.ui.saveAnswers.append(old);
    form.ui.yesNoAnswers.append(true);
    saveResultsAsText(form.state);
    QCOMPARE(reportHeads(form.ui),
             QStringList{report + "\r\n" + locations::saveResultsAsText + "at line 140"});
    QCOMPARE(contentsOf(old), QByteArray("old\r\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"good.txt", "old.txt"}));
}

QTEST_MAIN(TestFaultsFiles)
#include "tst_faults_files.moc"
