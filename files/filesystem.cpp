#include "filesystem.h"

#include "core/failure.h"
#include "core/utf8leads.h"

#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

namespace {

// Length of the valid UTF-8 sequence at `at`, or 0 when the byte there starts none or is
// ASCII.
int validSequenceLength(QByteArrayView bytes, qsizetype at) {
    const Utf8Lead lead = Utf8Leads[uchar(bytes[at])];
    if (lead.length < 2 || at + lead.length > bytes.size())
        return 0;
    const auto second = uchar(bytes[at + 1]);
    if (second < lead.low || second > lead.high)
        return 0;
    for (int i = 2; i < lead.length; ++i) {
        if ((uchar(bytes[at + i]) & 0xC0) != 0x80)
            return 0;
    }
    return lead.length;
}

// Numbered the way the walk's listing rules expect: 70 and 76 end in a folder being
// left out quietly, anything else is reported.
Failure listingFailure(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return failures::permissionDenied();
    case ENOENT:
    case ENOTDIR:
        return failures::pathNotFound();
    default:
        return failures::fromErrno(error);
    }
}

// The entry a path names: without final separators, so a link is seen as the link and
// not as its target; "/" stays "/".
QByteArray entryPath(const QString& path) {
    QByteArray bytes = encodeFileName(path);
    while (bytes.size() > 1 && bytes.endsWith('/'))
        bytes.chop(1);
    return bytes;
}

QByteArray lastName(const QByteArray& entry) {
    return entry.mid(entry.lastIndexOf('/') + 1);
}

bool isHiddenName(const char* name) {
    return name[0] == '.';
}

int attributeValue(mode_t own, const struct stat* target, bool hidden) {
    const int hiddenBit = hidden ? attribute::Hidden : 0;
    if (S_ISLNK(own)) {
        if (target && S_ISDIR(target->st_mode))
            return attribute::LinkedFolder;
        const int archive = target && S_ISREG(target->st_mode) ? attribute::Archive : 0;
        return attribute::ReparsePoint | archive | hiddenBit;
    }
    if (S_ISDIR(own))
        return attribute::Directory | hiddenBit;
    return (S_ISREG(own) ? attribute::Archive : 0) | hiddenBit;
}

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Calls visit(folder descriptor, entry) for every entry but "." and "..". The folder is
// read straight into a buffer on the stack: a drop reads thousands of folders, and
// opendir would look each one up again and allocate a buffer of its own for it.
template <typename Visit> void readFolder(const QString& folder, Visit&& visit) {
    const QByteArray path = encodeFileName(folder);
    const int fd = open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw listingFailure(errno);
    const auto closeFolder = qScopeGuard([fd] { close(fd); });
    alignas(dirent64) char buffer[32 * 1024];
    for (;;) {
        const ssize_t filled = getdents64(fd, buffer, sizeof buffer);
        if (filled < 0) {
            if (errno == EINTR)
                continue;
            throw listingFailure(errno);
        }
        if (filled == 0)
            return;
        for (ssize_t at = 0; at < filled;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            if (!isDotOrDotDot(entry->d_name))
                visit(fd, *entry);
        }
    }
}

class PosixFileSystem : public FileSystem {
public:
    // `entryTypes` false: as if no folder told an entry's type.
    explicit PosixFileSystem(bool entryTypes)
        : m_entryTypes(entryTypes) {}

    std::optional<int> attributes(const QString& path) const override {
        const QByteArray entry = entryPath(path);
        struct stat own;
        if (entry.isEmpty() || lstat(entry.constData(), &own) != 0)
            return std::nullopt;
        struct stat target;
        const bool reached = S_ISLNK(own.st_mode) && stat(entry.constData(), &target) == 0;
        return attributeValue(own.st_mode, reached ? &target : nullptr,
                              isHiddenName(lastName(entry).constData()));
    }

    QString lookUpName(const QString& path) const override {
        const QByteArray entry = entryPath(path);
        struct stat own;
        if (entry.isEmpty() || lstat(entry.constData(), &own) != 0)
            return {};
        return decodeFileName(lastName(entry));
    }

    FolderInfo folder(const QString& path) const override {
        const QByteArray entry = entryPath(path);
        struct stat own;
        if (entry.isEmpty() || lstat(entry.constData(), &own) != 0)
            throw listingFailure(entry.isEmpty() ? ENOENT : errno);
        struct stat target = own;
        const bool link = S_ISLNK(own.st_mode);
        if (link && stat(entry.constData(), &target) != 0)
            throw listingFailure(errno);
        if (!S_ISDIR(target.st_mode))
            throw listingFailure(ENOTDIR);
        FolderInfo info;
        info.attributes =
            attributeValue(own.st_mode, &target, isHiddenName(lastName(entry).constData()));
        info.device = quint64(target.st_dev);
        info.inode = quint64(target.st_ino);
        if (!link) {
            struct stat parent;
            info.isRoot = entry == "/" || (stat((entry + "/..").constData(), &parent) == 0 &&
                                           parent.st_dev != own.st_dev);
        }
        return info;
    }

    FolderListing list(const QString& folder) const override {
        FolderListing listing;
        const qsizetype folderLength = encodeFileName(folder).size();
        const qsizetype separator = folder.endsWith(u'/') ? 0 : 1;
        // Whether names in the folder can be looked up at all: once one has been, every
        // other entry listed as a regular file opens too and needs no read of its own.
        // That keeps a large drop near the cost of reading its folders.
        std::optional<bool> searchable;
        readFolder(folder, [&](int fd, const dirent64& entry) {
            const auto type = m_entryTypes ? entry.d_type : static_cast<unsigned char>(DT_UNKNOWN);
            const qsizetype nameLength = qsizetype(strlen(entry.d_name));
            const auto name = [&] {
                return decodeFileName(QByteArrayView(entry.d_name, nameLength));
            };
            if (type == DT_DIR) {
                listing.subFolderNames.append(name());
                return;
            }
            bool openable = false;
            struct stat own;
            struct stat target;
            if (type == DT_REG && searchable) {
                own.st_mode = S_IFREG;
                openable = *searchable;
            } else if (fstatat(fd, entry.d_name, &own, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == EACCES)
                    searchable = false;
                own.st_mode = type == DT_LNK ? S_IFLNK : S_IFREG;
            } else {
                searchable = true;
                if (S_ISDIR(own.st_mode)) {
                    listing.subFolderNames.append(name());
                    return;
                }
                if (!S_ISLNK(own.st_mode)) {
                    openable = true;
                } else if (fstatat(fd, entry.d_name, &target, 0) == 0) {
                    if (S_ISDIR(target.st_mode)) {
                        listing.subFolderNames.append(name());
                        return;
                    }
                    openable = true;
                }
            }
            if (folderLength + separator + nameLength >= PathLimit)
                openable = false; // the joined path could not be opened
            const bool reached = openable && S_ISLNK(own.st_mode);
            listing.files.append(QByteArrayView(entry.d_name, nameLength),
                                 attributeValue(own.st_mode, reached ? &target : nullptr,
                                                isHiddenName(entry.d_name)),
                                 openable);
        });
        return listing;
    }

    bool isOpenableFile(const QString& path) const override {
        const QByteArray bytes = encodeFileName(path);
        if (bytes.isEmpty())
            return false;
        // O_PATH opens without reading or writing, so a FIFO cannot block the drop.
        const int fd = open(bytes.constData(), O_PATH | O_CLOEXEC);
        if (fd < 0)
            return false;
        struct stat status;
        const bool openable = fstat(fd, &status) == 0 && !S_ISDIR(status.st_mode);
        close(fd);
        return openable;
    }

private:
    bool m_entryTypes;
};

} // namespace

QString decodeFileName(QByteArrayView bytes) {
    QString name = QString::fromUtf8(bytes);
    if (!name.contains(QChar(QChar::ReplacementCharacter)))
        return name;
    // Some byte is not valid UTF-8 (or the name really holds U+FFFD): decode by hand.
    name.clear();
    qsizetype start = 0; // of the valid run not yet decoded
    qsizetype at = 0;
    while (at < bytes.size()) {
        if (uchar(bytes[at]) < 0x80) {
            ++at;
            continue;
        }
        const int length = validSequenceLength(bytes, at);
        if (length > 0) {
            at += length;
            continue;
        }
        name += QString::fromUtf8(bytes.sliced(start, at - start));
        name += QChar(char16_t(0xDC00 + uchar(bytes[at])));
        start = ++at;
    }
    name += QString::fromUtf8(bytes.sliced(start));
    return name;
}

bool hasEscapedByte(QStringView name) {
    const char16_t* units = name.utf16();
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (isEscapedByte(units[i]) && (i == 0 || !QChar::isHighSurrogate(units[i - 1])))
            return true;
    }
    return false;
}

QByteArray encodeFileName(QStringView name) {
    if (!hasEscapedByte(name))
        return name.toUtf8();
    QByteArray bytes;
    const char16_t* units = name.utf16();
    qsizetype start = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!isEscapedByte(units[i]) || (i > 0 && QChar::isHighSurrogate(units[i - 1])))
            continue;
        bytes += name.mid(start, i - start).toUtf8();
        bytes += char(units[i] - 0xDC00);
        start = i + 1;
    }
    bytes += name.mid(start).toUtf8();
    return bytes;
}

void ListedFiles::append(QByteArrayView name, int attributes, bool openable) {
    ListedFile file;
    file.offset = quint32(m_names.size());
    file.length = quint32(name.size());
    file.attributes = attributes;
    file.openable = openable;
    quint64 any = 0;
    qsizetype i = 0;
    for (; i + 8 <= name.size(); i += 8) {
        quint64 word;
        std::memcpy(&word, name.data() + i, 8);
        any |= word;
    }
    for (; i < name.size(); ++i)
        any |= uchar(name[i]);
    file.ascii = (any & 0x8080808080808080u) == 0;
    // Listings are kept until their files are added: a tree of many small folders must not
    // hold much more than its names.
    if (m_names.capacity() - m_names.size() < size_t(name.size()))
        m_names.reserve(
            std::max(2 * m_names.capacity(), m_names.size() + size_t(name.size()) + 256));
    m_names.append(name.data(), size_t(name.size()));
    m_files.push_back(file);
}

const FileSystem& realFileSystem() {
    static const PosixFileSystem fileSystem(true);
    return fileSystem;
}

const FileSystem& realFileSystemWithoutEntryTypes() {
    static const PosixFileSystem fileSystem(false);
    return fileSystem;
}

} // namespace varnel
