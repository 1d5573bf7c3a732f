#include "filereplacement.h"

#include "descriptorio.h"
#include "filemetadata.h"
#include "filesystem.h"
#include "pendingnames.h"
#include "systemcalls.h"
#include "targetpath.h"
#include "unnamedfile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace varnel {

namespace {

// Written text is handed to the disk each time this much more is waiting, so the wait for
// it all before the file takes the old one's place stays short.
constexpr qint64 WritebackSize = 4 * 1024 * 1024;

// ".NAME.RANDOM", short enough for a name however long NAME is.
QByteArray temporaryName(const QByteArray& base) {
    const QByteArray random = QByteArray::number(QRandomGenerator::global()->bounded(1 << 30), 36);
    return '.' + base.first(std::min(base.size(), NameLimit - 2 - random.size())) + '.' + random;
}

// "NAME.varnel-old-RANDOM": where the old bytes of a file written into wait, named so that
// whoever finds it after a kill knows what it is.
QByteArray oldCopyName(const QByteArray& base) {
    const QByteArray random = QByteArray::number(QRandomGenerator::global()->bounded(1 << 30), 36);
    const QByteArray tail = ".varnel-old-" + random;
    return base.first(std::min(base.size(), NameLimit - tail.size())) + tail;
}

// Where the old bytes wait when the file's own folder cannot be written.
QByteArray temporaryFolder() {
    const QByteArray chosen = QFile::encodeName(QDir::tempPath());
    return chosen.isEmpty() ? QByteArray("/tmp") : chosen;
}

bool unsupported(int error) {
    return error == EOPNOTSUPP || error == ENOSYS;
}

// An unnamed file can be given a name only through /proc.
bool unnamedFilesCanBeLinked() {
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}

void closeAside(int fd) {
    // The file replaced goes when its last user lets go, and a large one takes a while to
    // free: that user is a thread of its own, not a window's.
    try {
        std::thread([fd] { ::close(fd); }).detach();
    } catch (const std::exception&) {
        ::close(fd);
    }
}

} // namespace

FileReplacement::FileReplacement(Describe describe)
    : m_describe(describe) {}

FileReplacement::~FileReplacement() {
    discard();
}

void FileReplacement::removeNamedTemporaries() noexcept {
    removePendingNames();
}

void FileReplacement::open(const QByteArray& path, Streams streams) {
    discard();
    m_keptCopy.clear();
    if (streams == Streams::WrittenInto) {
        if (const int given = givenDescriptor(path); given >= 0) {
            if (::fcntl(given, F_GETFL) < 0)
                fail(errno);
            m_fd = given;
            m_ownsFd = false;
            return;
        }
    }
    // What the name leads to decides the way; a link given to /proc (/dev/stdout) opens as
    // what it stands for.
    struct stat status;
    const bool exists = ::stat(path.constData(), &status) == 0;
    if (!exists && errno != ENOENT)
        fail(errno);
    if (exists && S_ISDIR(status.st_mode)) {
        fail(EISDIR);
    } else if (exists && (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))) {
        openInto(path, false);
    } else if (exists && !S_ISREG(status.st_mode)) {
        if (streams == Streams::Refused)
            fail(ESPIPE);
        openInto(path, true);
    } else {
        const QByteArray name = followLinks(path);
        if (name.isEmpty())
            fail(errno);
        openPlainFile(name, exists);
    }
}

void FileReplacement::expectUnchanged(const FileIdentity& seen, const Failure& changed) {
    m_expected = seen;
    m_changed = changed;
}

void FileReplacement::checkUnchanged() {
    if (!m_expected)
        return;
    struct stat now;
    bool same =
        m_target < 0 || (::fstat(m_target, &now) == 0 && FileIdentity::of(now) == *m_expected);
    // The name may lead to another file by now, or to none.
    if (same && m_folder >= 0)
        same = ::fstatat(m_folder, m_base.constData(), &now, 0) == 0 &&
               FileIdentity::of(now) == *m_expected;
    if (!same) {
        const Failure changed = *m_changed;
        discard();
        throw changed;
    }
}

void FileReplacement::openInto(const QByteArray& path, bool stream) {
    m_way = Way::Into;
    if (stream) {
        // A named pipe waits here for its reader, as it does for the shell.
        do {
            m_fd = ::open(path.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        } while (m_fd < 0 && errno == EINTR);
        if (m_fd < 0)
            fail(errno);
        return;
    }
    // Without blocking, so that a pipe put there since the look cannot hold the caller.
    m_fd = ::open(path.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0)
        fail(errno);
    struct stat status;
    if (::fstat(m_fd, &status) != 0 || !(S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)))
        fail(ESPIPE);
    if (const int flags = ::fcntl(m_fd, F_GETFL); flags >= 0)
        ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
}

void FileReplacement::openPlainFile(const QByteArray& path, bool old) {
    m_base = baseOf(path);
    if (m_base.isEmpty() || m_base == "." || m_base == "..")
        fail(EISDIR);
    if (old) {
        // Opened now, so a file nobody may write is refused before anything is written; read
        // too where it may be, for its old bytes to be kept should it be written into.
        m_target = ::open(path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        m_targetReadable = m_target >= 0;
        if (m_target < 0 && errno == EACCES)
            m_target = ::open(path.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (m_target < 0)
            fail(errno);
        if (::fstat(m_target, &m_old) != 0)
            fail(errno);
        if (!S_ISREG(m_old.st_mode))
            fail(ESPIPE);
    }
    m_folderName = folderOf(path);
    m_folder = ::open(m_folderName.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_folder < 0) {
        if (!old)
            fail(errno);
        gatherElsewhere();
        return;
    }
    // A new file could not have another user's owner, nor be the file under every one of
    // its names.
    const uid_t user = ::geteuid();
    if (old && (m_old.st_nlink > 1 || (user != 0 && m_old.st_uid != user))) {
        gatherElsewhere();
        return;
    }
    m_way = Way::Beside;
    if (createUnnamedBeside(old) || createNamedBeside(old))
        return;
    if (!old)
        fail(errno);
    gatherElsewhere();
}

bool FileReplacement::createUnnamedBeside(bool replacing) {
    if (!unnamedFilesCanBeLinked())
        return false;
    // A new file gets what the system gives any new file (the umask, a folder's default
    // ACL); one that replaces a file stays private until it has the old one's.
    m_fd = systemCalls().openat(m_folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC,
                                replacing ? 0600 : 0666);
    return m_fd >= 0;
}

bool FileReplacement::createNamedBeside(bool replacing) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = temporaryName(m_base);
        const SignalsHeld held;
        const int fd =
            systemCalls().openat(m_folder, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                                 replacing ? 0600 : 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_temporary = name;
            m_slot = rememberName(m_folder, name);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    errno = EEXIST;
    return false;
}

void FileReplacement::gatherElsewhere() {
    m_way = Way::InPlace;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    try {
        m_fd = UnnamedFile().release();
    } catch (const Failure&) {
        // No temporary folder to be had: memory holds the content until it is copied.
        m_memory = true;
    }
}

void FileReplacement::write(QByteArrayView bytes) {
    if (m_memory) {
        try {
            m_gathered += bytes;
        } catch (const std::bad_alloc&) {
            fail(ENOMEM);
        }
        return;
    }
    writeAllTo(m_fd, bytes);
    m_written += bytes.size();
    if (m_way != Way::Into && m_written - m_handedToDisk >= WritebackSize) {
        // Only a request to start: whatever it says, the sync before the rename decides.
        ::sync_file_range(m_fd, m_handedToDisk, m_written - m_handedToDisk, SYNC_FILE_RANGE_WRITE);
        m_handedToDisk = m_written;
    }
}

void FileReplacement::writeAllTo(int fd, QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        const ssize_t written = systemCalls().write(fd, bytes.data(), size_t(bytes.size()));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        bytes = bytes.sliced(written);
    }
}

void FileReplacement::commit() {
    switch (m_way) {
    case Way::Into:
        if (m_ownsFd) {
            // A device may only now say that it failed.
            if (systemCalls().close(std::exchange(m_fd, -1)) != 0 && errno != EINTR)
                fail(errno);
        }
        discard();
        return;
    case Way::InPlace:
        copyInPlace();
        return;
    case Way::Beside:
        putInPlace();
        return;
    }
}

void FileReplacement::putInPlace() {
    // On disk before it takes the old file's place: a crash then leaves one or the other.
    if (systemCalls().fdatasync(m_fd) != 0)
        fail(errno);
    if (m_target >= 0 && !takeOverMetadata(m_target, m_old, m_fd)) {
        copyInPlace();
        return;
    }
    {
        const SignalsHeld held;
        if (m_temporary.isEmpty()) {
            const QByteArray unnamed = "/proc/self/fd/" + QByteArray::number(m_fd);
            for (int attempt = 0; m_temporary.isEmpty(); ++attempt) {
                const QByteArray name = temporaryName(m_base);
                if (systemCalls().linkat(AT_FDCWD, unnamed.constData(), m_folder, name.constData(),
                                         AT_SYMLINK_FOLLOW) == 0) {
                    m_temporary = name;
                    m_slot = rememberName(m_folder, name);
                } else if (errno != EEXIST || attempt == 100) {
                    fail(errno);
                }
            }
        }
        // A file system that writes late (over a network) may only now say it is full.
        if (systemCalls().close(std::exchange(m_fd, -1)) != 0 && errno != EINTR)
            fail(errno);
        checkUnchanged();
        if (systemCalls().renameat(m_folder, m_temporary.constData(), m_folder,
                                   m_base.constData()) != 0) {
            const int error = errno;
            // A file mounted over another's name cannot be renamed over: it is written into.
            if (error != EBUSY || m_target < 0)
                fail(error);
            m_fd = ::openat(m_folder, m_temporary.constData(), O_RDONLY | O_CLOEXEC);
            if (m_fd < 0)
                fail(errno);
            copyInPlace();
            return;
        }
        forgetName(std::exchange(m_slot, -1));
        m_temporary.clear();
    }
    if (m_target >= 0)
        closeAside(std::exchange(m_target, -1));
    discard();
}

void FileReplacement::copyInPlace() {
    const SignalsHeld held;
    checkUnchanged();
    struct stat status;
    if (!m_memory && ::fstat(m_fd, &status) != 0)
        fail(errno);
    const off_t newSize = m_memory ? off_t(m_gathered.size()) : status.st_size;
    // Room for the new content before anything changes: a full disk or quota fails here,
    // with the file as it was. Where the file system cannot say, the old bytes kept below
    // still go back should the disk fill.
    if (newSize > 0) {
        int reserved;
        do {
            reserved = systemCalls().fallocate(m_target, FALLOC_FL_KEEP_SIZE, 0, newSize);
        } while (reserved != 0 && errno == EINTR);
        if (reserved != 0 && !unsupported(errno))
            fail(errno);
    }
    if (::fstat(m_target, &status) != 0)
        fail(errno);
    keepOldBytes(status.st_size);
    if (m_expected) {
        // Written to while its old bytes were copied (they are not all in the copy), or
        // another file put under its name.
        struct stat now;
        struct stat named;
        const bool same =
            ::fstat(m_target, &now) == 0 && now.st_size == status.st_size &&
            now.st_mtim.tv_sec == status.st_mtim.tv_sec &&
            now.st_mtim.tv_nsec == status.st_mtim.tv_nsec &&
            (m_folder < 0 || (::fstatat(m_folder, m_base.constData(), &named, 0) == 0 &&
                              m_expected->isFile(named)));
        if (!same) {
            const Failure changed = *m_changed;
            discard();
            throw changed;
        }
    }
    // From here the old bytes are whole only in the copy until the new ones are on disk:
    // a failure puts them back (discard), a kill leaves the copy where it is.
    forgetName(std::exchange(m_oldCopySlot, -1));
    m_overwriting = true;
    if (::lseek(m_target, 0, SEEK_SET) < 0)
        fail(errno);
    if (m_memory) {
        writeAllTo(m_target, m_gathered);
    } else {
        std::vector<char> block(1 << 20);
        for (off_t from = 0;;) {
            const ssize_t got = ::pread(m_fd, block.data(), block.size(), from);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                fail(errno);
            if (got == 0)
                break;
            writeAllTo(m_target, QByteArrayView(block.data(), got));
            from += got;
        }
    }
    // Cut to its new length only once written over: the old lines stay until then.
    if (systemCalls().ftruncate(m_target, newSize) != 0)
        fail(errno);
    if (systemCalls().fsync(m_target) != 0)
        fail(errno);
    // Closing may yet fail (over a network): the old bytes then still go back through this.
    m_spareTarget = ::fcntl(m_target, F_DUPFD_CLOEXEC, 0);
    if (systemCalls().close(std::exchange(m_target, m_spareTarget)) != 0 && errno != EINTR)
        fail(errno);
    m_overwriting = false;
    removeOldCopy();
    discard();
}

void FileReplacement::keepOldBytes(off_t size) {
    if (!m_targetReadable)
        fail(EACCES);
    m_oldSize = size;
    // Beside the file, on its disk; else in the temporary folder.
    if (m_folder >= 0 && keepOldBytesIn(m_folder, size))
        return;
    const int besideError = m_folder >= 0 ? errno : 0;
    m_oldCopyFolder = ::open(temporaryFolder().constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_oldCopyFolder >= 0 && keepOldBytesIn(m_oldCopyFolder, size))
        return;
    // A folder the user may not write says less than what then failed elsewhere.
    const bool barred =
        besideError == 0 || besideError == EACCES || besideError == EPERM || besideError == EROFS;
    fail(barred ? errno : besideError);
}

bool FileReplacement::keepOldBytesIn(int folder, off_t size) {
    QByteArray name;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        name = oldCopyName(m_base);
        fd = systemCalls().openat(folder, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                                  0600);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    // Until the file is written over, a signal that ends the program takes the copy along.
    m_oldCopy = fd;
    m_oldCopyName = name;
    m_oldCopySlot = rememberName(folder, name);
    bool kept = true;
    std::vector<char> block(1 << 20);
    for (off_t from = 0; kept && from < size;) {
        const ssize_t got = ::pread(m_target, block.data(), block.size(), from);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            kept = got == 0 ? (errno = EIO, false) : false;
            break;
        }
        for (ssize_t done = 0; kept && done < got;) {
            const ssize_t written =
                systemCalls().write(fd, block.data() + done, size_t(got - done));
            if (written < 0 && errno != EINTR)
                kept = false;
            else if (written > 0)
                done += written;
        }
        from += got;
    }
    if (kept && systemCalls().fsync(fd) != 0)
        kept = false;
    if (!kept) {
        const int error = errno;
        removeOldCopy();
        errno = error;
        return false;
    }
    // The copy's name on disk too, so that even a crash leaves it to be found.
    if (const int open = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); open >= 0) {
        ::fsync(open);
        ::close(open);
    }
    const QByteArray where = folder == m_folder ? m_folderName : temporaryFolder();
    m_oldCopyPath = where + '/' + name;
    return true;
}

bool FileReplacement::putOldBytesBack() noexcept {
    if (m_target < 0 || m_oldCopy < 0)
        return false;
    std::vector<char> block(1 << 20);
    for (off_t from = 0; from < m_oldSize;) {
        const ssize_t got = ::pread(m_oldCopy, block.data(), block.size(), from);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        for (ssize_t done = 0; done < got;) {
            const ssize_t written =
                ::pwrite(m_target, block.data() + done, size_t(got - done), from + done);
            if (written < 0 && errno != EINTR)
                return false;
            if (written > 0)
                done += written;
        }
        from += got;
    }
    return ::ftruncate(m_target, m_oldSize) == 0 && ::fsync(m_target) == 0;
}

void FileReplacement::removeOldCopy() noexcept {
    if (m_oldCopy < 0)
        return;
    ::unlinkat(m_oldCopyFolder >= 0 ? m_oldCopyFolder : m_folder, m_oldCopyName.constData(), 0);
    forgetName(std::exchange(m_oldCopySlot, -1));
    ::close(std::exchange(m_oldCopy, -1));
    m_oldCopyName.clear();
    m_oldCopyPath.clear();
}

void FileReplacement::discard() noexcept {
    if (m_overwriting) {
        m_overwriting = false;
        if (putOldBytesBack()) {
            removeOldCopy();
        } else if (m_oldCopy >= 0) {
            // Never removed while it holds the only whole old bytes.
            m_keptCopy = m_oldCopyPath;
            ::close(std::exchange(m_oldCopy, -1));
            m_oldCopyName.clear();
            m_oldCopyPath.clear();
        }
    }
    removeOldCopy();
    if (m_spareTarget >= 0 && m_spareTarget != m_target)
        ::close(m_spareTarget);
    m_spareTarget = -1;
    if (m_oldCopyFolder >= 0)
        ::close(std::exchange(m_oldCopyFolder, -1));
    m_expected.reset();
    m_changed.reset();
    m_targetReadable = false;
    m_oldSize = 0;
    if (m_fd >= 0 && m_ownsFd)
        ::close(m_fd);
    m_fd = -1;
    m_ownsFd = true;
    if (!m_temporary.isEmpty()) {
        const SignalsHeld held;
        ::unlinkat(m_folder, m_temporary.constData(), 0);
        forgetName(std::exchange(m_slot, -1));
        m_temporary.clear();
    }
    if (m_target >= 0)
        ::close(std::exchange(m_target, -1));
    if (m_folder >= 0)
        ::close(std::exchange(m_folder, -1));
    m_memory = false;
    m_gathered.clear();
    m_way = Way::Into;
    m_written = 0;
    m_handedToDisk = 0;
}

void FileReplacement::fail(int error) {
    Failure failure = m_describe(error);
    discard();
    if (!m_keptCopy.isEmpty())
        failure = Failure(failure.number(),
                          failure.description() +
                              QStringLiteral(" (the old content is in %1)")
                                  .arg(QFile::decodeName(std::exchange(m_keptCopy, QByteArray()))));
    throw failure;
}

} // namespace varnel
