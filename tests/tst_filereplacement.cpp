// FileReplacement on real files: what a replaced file keeps, what a new one gets, and that a
// failure at any step leaves the old file whole with nothing beside it.

#include "files/filereplacement.h"
#include "files/systemcalls.h"
#include "files/systemfailure.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <QScopeGuard>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace varnel;
using namespace varnel::testing;

namespace {

// Puts the system's own calls back, whatever a test put in their place.
struct SystemCallsRestored {
    SystemCalls saved = systemCalls();
    ~SystemCallsRestored() { systemCalls() = saved; }
};

int unnamedFilesRefused(int folder, const char* path, int flags, mode_t mode) {
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return ::openat(folder, path, flags, mode);
}

// An ACL as the kernel stores it: user::rw- user:1234:r-- group::r-- mask::rw- other::---.
QByteArray aclBytes() {
    QByteArray bytes;
    const auto add = [&bytes](quint32 value, int size) {
        for (int i = 0; i < size; ++i)
            bytes += char((value >> (8 * i)) & 0xFF);
    };
    add(2, 4); // version
    for (const auto& [tag, permissions, id] :
         {std::tuple{0x01u, 6u, 0xFFFFFFFFu}, std::tuple{0x02u, 4u, 1234u},
          std::tuple{0x04u, 4u, 0xFFFFFFFFu}, std::tuple{0x10u, 6u, 0xFFFFFFFFu},
          std::tuple{0x20u, 0u, 0xFFFFFFFFu}}) {
        add(tag, 2);
        add(permissions, 2);
        add(id, 4);
    }
    return bytes;
}

QByteArray attribute(const QByteArray& path, const char* name) {
    QByteArray value(4096, '\0');
    const ssize_t size = ::getxattr(path.constData(), name, value.data(), size_t(value.size()));
    return size < 0 ? QByteArray("(none)") : value.first(size);
}

QByteArray nameOf(const QString& path) {
    return QFile::encodeName(path);
}

struct stat statusOf(const QByteArray& path) {
    struct stat status {};
    ::stat(path.constData(), &status);
    return status;
}

} // namespace

class TestFileReplacement : public QObject {
    Q_OBJECT
private slots:
    void init();
    void keepsWhatTheFileHad_data();
    void keepsWhatTheFileHad();
    void noAclFromTheFolder();
    void newFileMode_data();
    void newFileMode();
    void failureLeavesTheOldFile_data();
    void failureLeavesTheOldFile();
    void namedTemporaryRemovedOnSignal();
    void signalsWaitForTheCopyIntoTheFile();
    void givenDescriptor_data();
    void givenDescriptor();
    void writtenIntoStepByStep_data();
    void writtenIntoStepByStep();
    void changedMeanwhile_data();
    void changedMeanwhile();

private:
    void replace(const QByteArray& path, const QByteArray& bytes);

    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_old; // an existing file
};

void TestFileReplacement::init() {
    // On the disk the build is on: a /tmp in memory may keep no user attributes.
    m_dir = std::make_unique<QTemporaryDir>(QDir::currentPath() + QStringLiteral("/replaceXXXXXX"));
    QVERIFY(m_dir->isValid());
    m_old = QFile::encodeName(m_dir->filePath(QStringLiteral("list.txt")));
    writeFile(QFile::decodeName(m_old), "old\n");
}

void TestFileReplacement::replace(const QByteArray& path, const QByteArray& bytes) {
    FileReplacement file(systemFailure);
    file.open(path, FileReplacement::Streams::WrittenInto);
    file.write(bytes);
    file.commit();
}

void TestFileReplacement::keepsWhatTheFileHad_data() {
    QTest::addColumn<bool>("twoNames"); // a second hard link, which a rename would split
    QTest::newRow("renamed over") << false;
    QTest::newRow("two names, written into") << true;
}

void TestFileReplacement::keepsWhatTheFileHad() {
    QFETCH(bool, twoNames);
    const QByteArray other = QFile::encodeName(m_dir->filePath(QStringLiteral("other.txt")));
    if (twoNames)
        QCOMPARE(::link(m_old.constData(), other.constData()), 0);
    if (::geteuid() == 0)
        QCOMPARE(::chown(m_old.constData(), 1234, 2345), 0);
    if (::setxattr(m_old.constData(), "user.note", "kept", 4, 0) != 0)
        QSKIP(
            qPrintable("no user attributes on this file system: " + QString(std::strerror(errno))));
    const QByteArray acl = aclBytes();
    if (::setxattr(m_old.constData(), "system.posix_acl_access", acl.constData(),
                   size_t(acl.size()), 0) != 0)
        QSKIP(qPrintable("no ACLs on this file system: " + QString(std::strerror(errno))));
    QCOMPARE(::chmod(m_old.constData(), 02660), 0);
    const struct stat before = statusOf(m_old);
    const QByteArray aclBefore = attribute(m_old, "system.posix_acl_access");

    replace(m_old, "new\n");

    const struct stat after = statusOf(m_old);
    QCOMPARE(contentsOf(QFile::decodeName(m_old)), QByteArray("new\n"));
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    QCOMPARE(attribute(m_old, "user.note"), QByteArray("kept"));
    QCOMPARE(attribute(m_old, "system.posix_acl_access"), aclBefore);
    // A rename puts a new file in place; two names stay one file.
    QCOMPARE(after.st_ino == before.st_ino, twoNames);
    if (twoNames)
        QCOMPARE(contentsOf(QFile::decodeName(other)), QByteArray("new\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), twoNames ? 2 : 1);
}

void TestFileReplacement::noAclFromTheFolder() {
    // The folder's default ACL, set after the file was made, is not the file's.
    const QByteArray acl = aclBytes();
    const QByteArray folder = nameOf(m_dir->path());
    if (::setxattr(folder.constData(), "system.posix_acl_default", acl.constData(),
                   size_t(acl.size()), 0) != 0)
        QSKIP(qPrintable("no ACLs on this file system: " + QString(std::strerror(errno))));
    QCOMPARE(::chmod(m_old.constData(), 0604), 0);
    replace(m_old, "new\n");
    QCOMPARE(attribute(m_old, "system.posix_acl_access"), QByteArray("(none)"));
    QCOMPARE(int(statusOf(m_old).st_mode & 07777), 0604);
}

void TestFileReplacement::newFileMode_data() {
    QTest::addColumn<bool>("unnamed"); // the system makes files without a name
    QTest::addColumn<int>("umask");
    QTest::addColumn<int>("mode");
    QTest::newRow("unnamed, 022") << true << 022 << 0644;
    QTest::newRow("unnamed, 002") << true << 002 << 0664;
    QTest::newRow("named, 022") << false << 022 << 0644;
    QTest::newRow("named, 077") << false << 077 << 0600;
}

void TestFileReplacement::newFileMode() {
    QFETCH(bool, unnamed);
    QFETCH(int, umask);
    QFETCH(int, mode);
    const SystemCallsRestored restored;
    if (!unnamed)
        systemCalls().openat = unnamedFilesRefused;
    const mode_t before = ::umask(mode_t(umask));
    const QByteArray path = QFile::encodeName(m_dir->filePath(QStringLiteral("new.txt")));
    replace(path, "new\n");
    ::umask(before);
    QCOMPARE(int(statusOf(path).st_mode & 07777), mode);
    QCOMPARE(contentsOf(QFile::decodeName(path)), QByteArray("new\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"list.txt", "new.txt"}));
}

void TestFileReplacement::failureLeavesTheOldFile_data() {
    QTest::addColumn<QString>("call");
    QTest::addColumn<bool>("unnamed");
    QTest::addColumn<QString>("message");
    const auto rows = {
        std::pair{"write", "No space left on device"}, std::pair{"flush", "Input/output error"},
        std::pair{"rename", "Invalid cross-device link"}, std::pair{"close", "Input/output error"}};
    for (const auto& [call, message] : rows) {
        QTest::addRow("%s, unnamed", call) << call << true << message;
        QTest::addRow("%s, named", call) << call << false << message;
    }
    QTest::newRow("link") << "link" << true << "Too many links";
}

void TestFileReplacement::failureLeavesTheOldFile() {
    QFETCH(QString, call);
    QFETCH(bool, unnamed);
    QFETCH(QString, message);
    const SystemCallsRestored restored;
    SystemCalls& calls = systemCalls();
    if (!unnamed)
        calls.openat = unnamedFilesRefused;
    if (call == u"write")
        calls.write = [](int, const void*, size_t) -> ssize_t { return errno = ENOSPC, -1; };
    else if (call == u"flush")
        calls.fdatasync = [](int) { return errno = EIO, -1; };
    else if (call == u"rename")
        calls.renameat = [](int, const char*, int, const char*) { return errno = EXDEV, -1; };
    else if (call == u"link")
        calls.linkat = [](int, const char*, int, const char*, int) { return errno = EMLINK, -1; };
    else if (call == u"close")
        calls.close = [](int fd) { return ::close(fd), errno = EIO, -1; }; // as over a network
    QString thrown;
    try {
        replace(m_old, QByteArray("new line\n").repeated(10000));
    } catch (const Failure& failure) {
        thrown = failure.description();
    }
    QCOMPARE(thrown, message);
    QCOMPARE(contentsOf(QFile::decodeName(m_old)), QByteArray("old\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"list.txt"});
}

void TestFileReplacement::namedTemporaryRemovedOnSignal() {
    // Where the system makes no unnamed file, a signal handler removes the named one.
    const SystemCallsRestored restored;
    systemCalls().openat = unnamedFilesRefused;
    FileReplacement file(systemFailure);
    file.open(m_old, FileReplacement::Streams::WrittenInto);
    file.write("new\n");
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    FileReplacement::removeNamedTemporaries();
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"list.txt"});
    file.discard();
    QCOMPARE(contentsOf(QFile::decodeName(m_old)), QByteArray("old\n"));
}

namespace {
bool interruptHeld = false; // at the last write
}

void TestFileReplacement::signalsWaitForTheCopyIntoTheFile() {
    // Two names: written into the file itself, and once that has begun, nothing may end it.
    QCOMPARE(::link(m_old.constData(), nameOf(m_dir->filePath("other.txt")).constData()), 0);
    const SystemCallsRestored restored;
    systemCalls().write = [](int fd, const void* data, size_t size) {
        sigset_t held;
        pthread_sigmask(SIG_BLOCK, nullptr, &held);
        interruptHeld =
            sigismember(&held, SIGINT) && sigismember(&held, SIGTERM) && sigismember(&held, SIGHUP);
        return ::write(fd, data, size);
    };
    replace(m_old, "new\n");
    QVERIFY(interruptHeld);
    QCOMPARE(contentsOf(QFile::decodeName(m_old)), QByteArray("new\n"));
    sigset_t now;
    pthread_sigmask(SIG_BLOCK, nullptr, &now);
    QVERIFY(!sigismember(&now, SIGINT));
}

void TestFileReplacement::givenDescriptor_data() {
    QTest::addColumn<QByteArray>("folder"); // where the descriptor's number is
    QTest::newRow("/dev/fd") << QByteArray("/dev/fd/");
    QTest::newRow("/proc/self/fd") << QByteArray("/proc/self/fd/");
}

void TestFileReplacement::givenDescriptor() {
    // Written through the descriptor itself: a file opened for appending keeps what it had.
    QFETCH(QByteArray, folder);
    const int fd = ::open(m_old.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    QVERIFY(fd >= 0);
    replace(folder + QByteArray::number(fd), "new\n");
    QVERIFY(::fcntl(fd, F_GETFD) >= 0); // still the caller's
    ::close(fd);
    QCOMPARE(contentsOf(QFile::decodeName(m_old)), QByteArray("old\nnew\n"));
}

namespace {

// What a kill at any system call of a copy into the file would leave: the old content whole
// in the file or in a copy named for it, or the new content whole in the file.
struct WrittenInto {
    QString target;
    QStringList copyFolders;
    QByteArray old;
    QByteArray next;
    QString failing; // the step made to fail, at its first calls on what it writes
    int error = 0;
    int times = 1;
    QStringList lost; // the steps a kill would have lost content at
    QStringList seen;

    QByteArrayList copies() const {
        QByteArrayList found;
        for (const QString& folder : copyFolders)
            for (const QString& name :
                 QDir(folder).entryList({"list.txt.varnel-old-*"}, QDir::Files | QDir::Hidden))
                found.append(contentsOf(folder + u'/' + name));
        return found;
    }
    // Whether the call at `step` fails; a kill just before it is looked at first.
    bool stopsAt(const QString& step) {
        const QByteArray now = contentsOf(target);
        if (now != old && now != next && !copies().contains(old))
            lost.append(step);
        if (!seen.contains(step))
            seen.append(step);
        return step == failing && times-- > 0;
    }
};
WrittenInto* writtenInto = nullptr;

QString pathOfDescriptor(int fd) {
    return QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd));
}

// "copy" for the old bytes' copy, "file" for the target, empty for the content gathered.
QString writtenBy(int fd) {
    const QString path = pathOfDescriptor(fd);
    return path.contains(QStringLiteral(".varnel-old-")) ? QStringLiteral("copy")
           : path == writtenInto->target                 ? QStringLiteral("file")
                                                         : QString();
}

} // namespace

void TestFileReplacement::writtenIntoStepByStep_data() {
    QTest::addColumn<QString>("step");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("times");       // the step's first calls that fail
    QTest::addColumn<QString>("message"); // empty: replaced
    QTest::newRow("whole") << "" << 0 << 0 << "";
    QTest::newRow("full disk") << "reserve" << ENOSPC << 1 << "No space left on device";
    QTest::newRow("quota") << "reserve" << EDQUOT << 1 << "Disk quota exceeded";
    // Beside the file first, then in the temporary folder.
    QTest::newRow("copy made elsewhere") << "make copy" << EACCES << 1 << "";
    QTest::newRow("no folder for the copy") << "make copy" << EACCES << 2 << "Permission denied";
    QTest::newRow("copy cut short beside") << "write copy" << ENOSPC << 1 << "";
    QTest::newRow("copy cut short") << "write copy" << ENOSPC << 2 << "No space left on device";
    QTest::newRow("copy not flushed") << "flush copy" << EIO << 2 << "Input/output error";
    QTest::newRow("file cut short") << "write file" << ENOSPC << 1 << "No space left on device";
    QTest::newRow("not cut to length") << "cut file" << EIO << 1 << "Input/output error";
    QTest::newRow("file not flushed") << "flush file" << EIO << 1 << "Input/output error";
    QTest::newRow("file not closed") << "close file" << EIO << 1 << "Input/output error";
}

void TestFileReplacement::writtenIntoStepByStep() {
    // Two names: the file is written into. The new content is shorter, so only the final
    // cut leaves it whole.
    QFETCH(QString, step);
    QFETCH(int, error);
    QFETCH(int, times);
    QFETCH(QString, message);
    const QString tmp = m_dir->filePath(QStringLiteral("tmp"));
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("tmp")));
    qputenv("TMPDIR", QFile::encodeName(tmp));
    const auto tmpBack = qScopeGuard([] { qunsetenv("TMPDIR"); });
    const QByteArray old = QByteArray("an old line\n").repeated(30000);
    writeFile(QFile::decodeName(m_old), old);
    QCOMPARE(::link(m_old.constData(), nameOf(m_dir->filePath("other.txt")).constData()), 0);
    WrittenInto state{QFile::decodeName(m_old),
                      {m_dir->path(), tmp},
                      old,
                      QByteArray("new\n").repeated(20000),
                      step,
                      error,
                      times,
                      {},
                      {}};
    writtenInto = &state;
    const SystemCallsRestored restored;
    SystemCalls& calls = systemCalls();
    static const auto fails = [](const QString& step) {
        return writtenInto->stopsAt(step) ? (errno = writtenInto->error, true) : false;
    };
    calls.fallocate = [](int fd, int mode, off_t from, off_t length) {
        return fails("reserve") ? -1 : ::fallocate(fd, mode, from, length);
    };
    calls.openat = [](int folder, const char* path, int flags, mode_t mode) {
        return QByteArray(path).contains(".varnel-old-") && fails("make copy")
                   ? -1
                   : ::openat(folder, path, flags, mode);
    };
    calls.write = [](int fd, const void* data, size_t size) -> ssize_t {
        const QString what = writtenBy(fd);
        return !what.isEmpty() && fails("write " + what) ? -1 : ::write(fd, data, size);
    };
    calls.fsync = [](int fd) {
        const QString what = writtenBy(fd);
        return !what.isEmpty() && fails("flush " + what) ? -1 : ::fsync(fd);
    };
    calls.ftruncate = [](int fd, off_t length) {
        return fails("cut file") ? -1 : ::ftruncate(fd, length);
    };
    calls.close = [](int fd) {
        const bool file = writtenBy(fd) == u"file";
        const int closed = ::close(fd);
        return file && fails("close file") ? -1 : closed;
    };
    QString thrown;
    try {
        replace(m_old, state.next);
    } catch (const Failure& failure) {
        thrown = failure.description();
    }
    writtenInto = nullptr;
    QCOMPARE(thrown, message);
    QCOMPARE(state.lost, QStringList());
    QVERIFY2(step.isEmpty() || state.seen.contains(step), qPrintable(state.seen.join(", ")));
    QVERIFY(contentsOf(QFile::decodeName(m_old)) == (message.isEmpty() ? state.next : old));
    QCOMPARE(state.copies(), QByteArrayList());
}

void TestFileReplacement::changedMeanwhile_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("twoNames");
    for (const char* change : {"appended", "renamed over", "removed"}) {
        QTest::addRow("%s, renamed over", change) << change << false;
        QTest::addRow("%s, written into", change) << change << true;
    }
}

void TestFileReplacement::changedMeanwhile() {
    // Another program writes between the read the identity was taken at and the commit.
    QFETCH(QString, change);
    QFETCH(bool, twoNames);
    const QString path = QFile::decodeName(m_old);
    if (twoNames)
        QCOMPARE(::link(m_old.constData(), nameOf(m_dir->filePath("other.txt")).constData()), 0);
    const std::optional<FileIdentity> read = identityOf(m_old.constData());
    QVERIFY(read);
    FileReplacement file(systemFailure);
    file.open(m_old, FileReplacement::Streams::WrittenInto);
    file.expectUnchanged(*read, Failure(1, QStringLiteral("changed")));
    file.write("new\n");
    QByteArray left;
    if (change == u"appended") {
        QFile appended(path);
        QVERIFY(appended.open(QIODevice::Append));
        appended.write("appended\n");
        left = "old\nappended\n";
    } else if (change == u"renamed over") {
        writeFile(m_dir->filePath("theirs.txt"), "theirs\n");
        QVERIFY(::rename(nameOf(m_dir->filePath("theirs.txt")).constData(), m_old.constData()) ==
                0);
        left = "theirs\n";
    } else {
        QVERIFY(QFile::remove(path));
    }
    QString thrown;
    try {
        file.commit();
    } catch (const Failure& failure) {
        thrown = failure.description();
    }
    QCOMPARE(thrown, QStringLiteral("changed"));
    QCOMPARE(QFile::exists(path), change != u"removed");
    if (!left.isEmpty())
        QCOMPARE(contentsOf(path), left);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(),
             int(change != u"removed") + int(twoNames));
}

QTEST_GUILESS_MAIN(TestFileReplacement)
#include "tst_filereplacement.moc"
