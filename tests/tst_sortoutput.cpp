// varnel sort -o, the real program: OUTPUT is replaced whole or left as it was, keeps what the
// file was, and is written where the shell's ">" could write it.

#include "cli/sortcommand.h"
#include "files/systemcalls.h"
#include "tests/support/programrun.h"
#include "tests/support/testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <functional>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace varnel::testing;

namespace {

QString program() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/varnel");
}

// The ordinary user the tests run the program as, when they run as root.
constexpr int Nobody = 65534;

using Run = ProgramRun;

// The real program in `folder`, as `user` when not -1; `prepare` runs in the child first.
Run run(const QStringList& arguments, const QString& folder, int user = -1,
        std::function<void()> prepare = {}) {
    ProgramCall call{arguments, folder, {}};
    call.user = user;
    call.inChild = std::move(prepare);
    return runProgram(call);
}

QByteArray nameOf(const QString& path) {
    return QFile::encodeName(path);
}

struct stat statusOf(const QString& path) {
    struct stat status {};
    ::lstat(nameOf(path).constData(), &status);
    return status;
}

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                  QDir::System);
}

} // namespace

class TestSortOutput : public QObject {
    Q_OBJECT
private slots:
    void init();
    void replacedWhateverIsHeld_data();
    void replacedWhateverIsHeld();
    void throughLinks_data();
    void throughLinks();
    void whereTheShellCouldWrite_data();
    void whereTheShellCouldWrite();
    void signalWhileWriting_data();
    void signalWhileWriting();
    void changedWhileSorted_data();
    void changedWhileSorted();
    void halfUnitAtTheEnd_data();
    void halfUnitAtTheEnd();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSortOutput::init() {
    m_dir = std::make_unique<QTemporaryDir>(QDir::currentPath() + QStringLiteral("/sortXXXXXX"));
    QVERIFY(m_dir->isValid());
    // An ordinary user finds its way to the files.
    QCOMPARE(::chmod(nameOf(m_dir->path()).constData(), 0755), 0);
    writeFile(m_dir->filePath("list.txt"), "b\na\n");
}

void TestSortOutput::replacedWhateverIsHeld_data() {
    QTest::addColumn<int>("fd"); // the descriptor the caller holds on OUTPUT, for appending
    // Regression: the sorted lines were appended after the old ones through that descriptor.
    QTest::newRow("a lock's descriptor") << 9;
    QTest::newRow("standard output") << 1;
}

void TestSortOutput::replacedWhateverIsHeld() {
    // exec 9>>list.txt; flock 9; varnel sort -o list.txt list.txt
    QFETCH(int, fd);
    const QByteArray path = nameOf(m_dir->filePath("list.txt"));
    const Run sorted = run({"sort", "-o", "list.txt", "list.txt"}, m_dir->path(), -1, [&] {
        const int held = ::open(path.constData(), O_WRONLY | O_APPEND);
        ::dup2(held, fd);
    });
    QCOMPARE(sorted.err, QByteArray());
    QCOMPARE(sorted.status, 0);
    QCOMPARE(contentsOf(m_dir->filePath("list.txt")), QByteArray("a\nb\n"));
}

void TestSortOutput::throughLinks_data() {
    QTest::addColumn<QStringList>("links"); // each names the next; the last names "file.txt"
    QTest::addColumn<bool>("fileExists");
    QTest::newRow("a link to a file") << QStringList{"link"} << true;
    // Regression: the link itself was replaced by the file.
    QTest::newRow("a link to no file yet") << QStringList{"link"} << false;
    QTest::newRow("two links to no file yet") << QStringList{"link", "sub/link2"} << false;
}

void TestSortOutput::throughLinks() {
    QFETCH(QStringList, links);
    QFETCH(bool, fileExists);
    QVERIFY(QDir(m_dir->path()).mkdir("sub"));
    if (fileExists)
        writeFile(m_dir->filePath("file.txt"), "old\n");
    for (qsizetype i = 0; i < links.size(); ++i) {
        // Relative to the link's own folder, as links usually are.
        const QString to = i + 1 < links.size()
                               ? links[i + 1]
                               : (links[i].contains(u'/') ? "../file.txt" : "file.txt");
        QCOMPARE(::symlink(nameOf(to).constData(), nameOf(m_dir->filePath(links[i])).constData()),
                 0);
    }
    const Run sorted = run({"sort", "-o", links.first(), "list.txt"}, m_dir->path());
    QCOMPARE(sorted.err, QByteArray());
    QCOMPARE(sorted.status, 0);
    for (const QString& link : links)
        QVERIFY(S_ISLNK(statusOf(m_dir->filePath(link)).st_mode));
    QCOMPARE(contentsOf(m_dir->filePath("file.txt")), QByteArray("a\nb\n"));
    QCOMPARE(contentsOf(m_dir->filePath(links.first())), QByteArray("a\nb\n"));
}

void TestSortOutput::whereTheShellCouldWrite_data() {
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("sameFile"); // written into rather than replaced
    QTest::newRow("a writable file in a read-only folder") << "read-only folder" << true;
    QTest::newRow("another user's file") << "other's file" << true;
    QTest::newRow("a name of 250 bytes") << "long name" << false;
    QTest::newRow("a single file mounted over another") << "bind mount" << true;
}

void TestSortOutput::whereTheShellCouldWrite() {
    QFETCH(QString, where);
    QFETCH(bool, sameFile);
    const bool root = ::geteuid() == 0;
    const QString folder = m_dir->filePath("folder");
    QVERIFY(QDir().mkdir(folder));
    QString name = QStringLiteral("out.txt");
    if (where == u"long name")
        name = QString(246, u'n') + ".txt";
    const QString output = folder + '/' + name;
    writeFile(output, "old\nlines\n");
    QCOMPARE(::chmod(nameOf(output).constData(), 0666), 0);
    int user = -1;
    struct Unmount {
        QByteArray path;
        ~Unmount() {
            if (!path.isEmpty())
                ::umount2(path.constData(), MNT_DETACH);
        }
    } unmount;
    if (where == u"read-only folder" || where == u"other's file") {
        if (!root)
            QSKIP("needs root, to run the program as another user");
        if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            QSKIP("needs setpriv (util-linux), to run the program as another user");
        user = Nobody;
        QCOMPARE(::chmod(nameOf(folder).constData(), where == u"read-only folder" ? 0555 : 0777),
                 0);
    } else if (where == u"bind mount") {
        if (!root)
            QSKIP("needs root, to mount a file over another");
        const QString mounted = m_dir->filePath("mounted.txt");
        writeFile(mounted, "old\nlines\n");
        if (::mount(nameOf(mounted).constData(), nameOf(output).constData(), nullptr, MS_BIND,
                    nullptr) != 0)
            QSKIP("mounting a file over another is not permitted here");
        unmount.path = nameOf(output);
    }
    const struct stat before = statusOf(output);
    const Run sorted =
        run({"sort", "-o", output, m_dir->filePath("list.txt")}, m_dir->path(), user);
    QCOMPARE(sorted.status, 0);
    QCOMPARE(contentsOf(output), QByteArray("a\nb\n"));
    const struct stat after = statusOf(output);
    QCOMPARE(after.st_ino == before.st_ino, sameFile);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(entriesOf(folder), QStringList{name});
}

void TestSortOutput::signalWhileWriting_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestSortOutput::signalWhileWriting() {
    // Sent once the new file is open beside the old one: the program ends by that signal and
    // leaves the old file whole (or, had the rename already run, the new one) and nothing
    // beside it.
    QFETCH(int, signal);
    QByteArray lines;
    for (int i = 400000; i > 0; --i)
        lines += "line number " + QByteArray::number(i) + " of a long list\n";
    const QString list = m_dir->filePath("list.txt");
    writeFile(list, lines);
    const QByteArray folder = nameOf(m_dir->path());
    const QByteArray binary = nameOf(program());
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        if (::chdir(folder.constData()) == 0)
            ::execl(binary.constData(), "varnel", "sort", "-o", "list.txt", "list.txt", nullptr);
        ::_exit(127);
    }
    QVERIFY(child > 0);
    // The new file shows among the program's descriptors, by a name in that folder.
    const QByteArray descriptors = "/proc/" + QByteArray::number(child) + "/fd";
    bool sent = false;
    QElapsedTimer waited;
    waited.start();
    while (!sent && waited.elapsed() < 60000) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child)
            QSKIP("the program ended before the signal could be sent");
        for (int fd = 3; fd < 16 && !sent; ++fd) {
            char target[4096];
            const QByteArray entry = descriptors + '/' + QByteArray::number(fd);
            const ssize_t size = ::readlink(entry.constData(), target, sizeof target);
            const QByteArray link(target, std::max<ssize_t>(size, 0));
            if (link.startsWith(folder + "/#") || link.startsWith(folder + "/.list.txt.")) {
                ::kill(child, signal);
                sent = true;
            }
        }
    }
    QVERIFY(sent);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status));
    QCOMPARE(WTERMSIG(status), signal);
    const QByteArray after = contentsOf(list);
    QVERIFY2(after == lines || (after.size() == lines.size() && after.startsWith("line number 1 ")),
             after.left(40).constData());
    QCOMPARE(entriesOf(m_dir->path()), QStringList{"list.txt"});
}

namespace {
// What another program does to the file being sorted, once it has been read.
std::function<void()> meanwhile;
} // namespace

void TestSortOutput::changedWhileSorted_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("twoNames"); // written into rather than replaced
    for (const char* change : {"appended", "renamed over"}) {
        QTest::addRow("%s, replaced", change) << change << false;
        QTest::addRow("%s, written into", change) << change << true;
    }
}

void TestSortOutput::changedWhileSorted() {
    // sort --in-place list.txt second.txt, with a writer at list.txt between its reading and
    // its replacement: the sort's first file call after the reading is where it writes.
    QFETCH(QString, change);
    QFETCH(bool, twoNames);
    const QString list = m_dir->filePath("list.txt");
    const QString second = m_dir->filePath("second.txt");
    writeFile(second, "d\nc\n");
    if (twoNames)
        QCOMPARE(::link(nameOf(list).constData(), nameOf(m_dir->filePath("other.txt")).constData()),
                 0);
    const QByteArray left = change == u"appended" ? "b\na\nappended\n" : "theirs\n";
    meanwhile = [&] {
        if (change == u"appended") {
            QFile file(list);
            QVERIFY(file.open(QIODevice::Append) && file.write("appended\n") == 9);
        } else {
            writeFile(m_dir->filePath("theirs.txt"), "theirs\n");
            QVERIFY(::rename(nameOf(m_dir->filePath("theirs.txt")).constData(),
                             nameOf(list).constData()) == 0);
        }
    };
    const varnel::SystemCalls saved = varnel::systemCalls();
    varnel::systemCalls().openat = [](int folder, const char* path, int flags, mode_t mode) {
        if (meanwhile)
            std::exchange(meanwhile, nullptr)();
        return ::openat(folder, path, flags, mode);
    };
    // Its message, from this process's standard error.
    const QString errors = m_dir->filePath("errors");
    const int errorFile = ::open(nameOf(errors).constData(), O_WRONLY | O_CREAT, 0600);
    const int standardError = ::dup(STDERR_FILENO);
    ::dup2(errorFile, STDERR_FILENO);
    varnel::cli::SortOptions options;
    options.inPlace = true;
    const int status = varnel::cli::runSort({list, second}, options);
    ::dup2(standardError, STDERR_FILENO);
    ::close(standardError);
    ::close(errorFile);
    varnel::systemCalls() = saved;
    QCOMPARE(contentsOf(errors),
             "varnel: " + nameOf(list) + ": changed while it was being sorted; left as it is\n");
    QCOMPARE(status, 2);
    QCOMPARE(contentsOf(list), left);
    QCOMPARE(contentsOf(second), QByteArray("c\nd\n"));
    QCOMPARE(entriesOf(m_dir->path()).size(), twoNames ? 4 : 3);
}

void TestSortOutput::halfUnitAtTheEnd_data() {
    // A UTF-16 file of an odd number of bytes: its last byte is half a unit.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");  // in.txt; "second.txt" holds the same
    QTest::addColumn<QByteArray>("output"); // in.txt after it
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("err");
    const QByteArray little("\xff\xfe"
                            "b\0\n\0a\0\n\0",
                            10);
    const QByteArray sorted("\xff\xfe"
                            "a\0\n\0b\0\n\0",
                            10);
    const QStringList inPlace{"sort", "--in-place", "in.txt"};
    QTest::newRow("after the last break")
        << inPlace << little + 'x' << sorted + 'x' << 0 << QByteArray();
    QTest::newRow("in the last line")
        << inPlace << little.chopped(2) + 'x' << sorted + 'x' << 0 << QByteArray();
    QTest::newRow("big-endian") << inPlace << QByteArray("\xfe\xff\0b\0\n\0a\xff", 9)
                                << QByteArray("\xfe\xff\0a\0\n\0b\0\n\xff", 11) << 0
                                << QByteArray();
    const QByteArray halfUnit =
        "varnel: in.txt: ends in half a UTF-16 character (an odd number of bytes)";
    QTest::newRow("two halves cannot both end it")
        << QStringList{"sort", "-o", "in.txt", "in.txt", "second.txt"} << little + 'x'
        << little + 'x' << 2 << halfUnit + ", which this output cannot keep; nothing written\n";
    QTest::newRow("check") << QStringList{"check", "in.txt"} << sorted + 'x' << sorted + 'x' << 2
                           << halfUnit + "\n";
}

void TestSortOutput::halfUnitAtTheEnd() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, output);
    QFETCH(int, status);
    QFETCH(QByteArray, err);
    writeFile(m_dir->filePath("in.txt"), input);
    writeFile(m_dir->filePath("second.txt"), input);
    const Run done = run(arguments, m_dir->path());
    QCOMPARE(done.err, err);
    QCOMPARE(done.status, status);
    QCOMPARE(contentsOf(m_dir->filePath("in.txt")), output);
}

QTEST_GUILESS_MAIN(TestSortOutput)
#include "tst_sortoutput.moc"
