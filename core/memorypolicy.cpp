#include "memorypolicy.h"

#include <QFile>

#include <algorithm>
#include <limits>
#include <optional>
#include <system_error>

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace varnel {

void returnLargeBuffersToTheSystem() {
#if defined(M_MMAP_THRESHOLD)
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

void prefault(void* data, qint64 bytes) {
#if defined(MADV_POPULATE_WRITE)
    const auto page = quintptr(sysconf(_SC_PAGESIZE));
    const quintptr first = quintptr(data) & ~(page - 1);
    const quintptr end = quintptr(data) + quintptr(bytes);
    if (bytes >= (1 << 20))
        ::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
    Q_UNUSED(data);
    Q_UNUSED(bytes);
#endif
}

void PagesAhead::start(void* data, qint64 bytes) {
    start(data, bytes, nullptr, 0);
}

void PagesAhead::start(void* data, qint64 bytes, void* other, qint64 otherBytes) {
    finish();
    // A stretch at a time, so that a stop is heard soon.
    static constexpr qint64 Stretch = qint64(4) << 20;
    struct Buffer {
        char* data;
        qint64 bytes;
        qint64 done = 0;
        double along() const { return double(done) / double(bytes); }
    };
    std::vector<Buffer> buffers;
    for (const Buffer buffer :
         {Buffer{static_cast<char*>(data), bytes}, Buffer{static_cast<char*>(other), otherBytes}}) {
        // A thread costs more than the faults of a smaller buffer.
        if (buffer.bytes >= 2 * Stretch)
            buffers.push_back(buffer);
        else if (buffer.bytes > 0)
            prefault(buffer.data, buffer.bytes);
    }
    if (buffers.empty())
        return;
    m_stop = false;
    try {
        m_thread = SideThread([this, buffers]() mutable {
            while (!m_stop.load(std::memory_order_relaxed)) {
                // The buffer least far along.
                Buffer* next = nullptr;
                for (Buffer& buffer : buffers) {
                    if (buffer.done < buffer.bytes && (!next || buffer.along() < next->along()))
                        next = &buffer;
                }
                if (!next)
                    return;
                prefault(next->data + next->done, std::min(Stretch, next->bytes - next->done));
                next->done += Stretch;
            }
        });
    } catch (const std::system_error&) {
        for (const Buffer& buffer : buffers)
            prefault(buffer.data, buffer.bytes);
    }
}

void PagesAhead::finish() {
    if (!m_thread.joinable())
        return;
    m_stop = true;
    m_thread.join();
}

namespace {

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// mountinfo writes a blank, tab, newline or backslash in a path as \ and three octal digits.
QString mountPath(QByteArrayView escaped) {
    QByteArray path;
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        const bool octal = escaped[i] == '\\' && i + 3 < escaped.size() &&
                           std::all_of(escaped.begin() + i + 1, escaped.begin() + i + 4,
                                       [](char c) { return c >= '0' && c <= '7'; });
        if (octal) {
            path.append(char(((escaped[i + 1] - '0') << 6) | ((escaped[i + 2] - '0') << 3) |
                             (escaped[i + 3] - '0')));
            i += 3;
        } else {
            path.append(escaped[i]);
        }
    }
    return QFile::decodeName(path);
}

struct Mount {
    QString root;  // the folder of the hierarchy that appears at the mount point
    QString point; // where it appears
};

// The first mount of the version 2 hierarchy, or of the version 1 hierarchy that holds the
// memory controller.
std::optional<Mount> findMount(QByteArrayView mountInfo, bool version1) {
    for (const QByteArray& line : mountInfo.toByteArray().split('\n')) {
        // id parent major:minor root point options [optional...] - type source super-options
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (dash < 6 || dash + 3 >= fields.size())
            continue;
        const QByteArray& type = fields[dash + 1];
        const bool matches =
            version1 ? type == "cgroup" && fields[dash + 3].split(',').contains("memory")
                     : type == "cgroup2";
        if (matches)
            return Mount{mountPath(fields[3]), mountPath(fields[4])};
    }
    return std::nullopt;
}

// The folders from the group at `path` up to the mount's top, or none when the group lies
// outside what the mount shows.
QStringList groupFolders(const Mount& mount, const QString& path) {
    QString inside;
    if (mount.root == u"/")
        inside = path;
    else if (path == mount.root || path.startsWith(mount.root + u'/'))
        inside = path.mid(mount.root.size());
    else
        return {};
    QStringList folders;
    const QString base = mount.point == u"/" ? QString() : mount.point;
    for (QStringList parts = inside.split(u'/', Qt::SkipEmptyParts); !parts.isEmpty();
         parts.removeLast())
        folders.append(base + u'/' + parts.join(u'/'));
    folders.append(mount.point);
    return folders;
}

} // namespace

QList<MemoryGroupFiles> memoryGroupFiles(QByteArrayView cgroup, QByteArrayView mountInfo) {
    QList<MemoryGroupFiles> files;
    for (const QByteArray& line : cgroup.toByteArray().split('\n')) {
        // hierarchy-id:controllers:path; version 2 has id 0 and no controllers
        const qsizetype first = line.indexOf(':');
        const qsizetype second = line.indexOf(':', first + 1);
        if (first < 0 || second < 0)
            continue;
        const QByteArray controllers = line.mid(first + 1, second - first - 1);
        const bool version2 = line.first(first) == "0" && controllers.isEmpty();
        const bool version1 = controllers.split(',').contains("memory");
        if (!version1 && !version2)
            continue;
        const std::optional<Mount> mount = findMount(mountInfo, version1);
        if (!mount)
            continue;
        const QString path = QFile::decodeName(line.mid(second + 1));
        for (const QString& folder : groupFolders(*mount, path)) {
            if (version1)
                files.append({folder + QStringLiteral("/memory.limit_in_bytes"),
                              folder + QStringLiteral("/memory.usage_in_bytes")});
            else
                files.append({folder + QStringLiteral("/memory.max"),
                              folder + QStringLiteral("/memory.current")});
        }
    }
    return files;
}

qint64 memoryFileValue(QByteArrayView content) {
    bool ok = false;
    const qint64 value = content.trimmed().toLongLong(&ok);
    return ok && value >= 0 ? value : -1;
}

qint64 availableMemory() {
    qint64 available = std::numeric_limits<qint64>::max();
    qint64 free = 0;
    bool found = false;
    for (const QByteArray& line : contentsOf(QStringLiteral("/proc/meminfo")).split('\n')) {
        if (line.startsWith("MemAvailable:") || line.startsWith("SwapFree:")) {
            const QByteArray kilobytes = line.mid(line.indexOf(':') + 1).trimmed();
            free += kilobytes.left(kilobytes.indexOf(' ')).toLongLong() * 1024;
            found = true;
        }
    }
    if (found)
        available = free;
    // A desktop session's or a container's own limit is often far below what the machine has.
    for (const MemoryGroupFiles& group :
         memoryGroupFiles(contentsOf(QStringLiteral("/proc/self/cgroup")),
                          contentsOf(QStringLiteral("/proc/self/mountinfo")))) {
        const qint64 limit = memoryFileValue(contentsOf(group.limit));
        const qint64 used = memoryFileValue(contentsOf(group.usage));
        if (limit >= 0 && used >= 0)
            available = std::min(available, std::max<qint64>(limit - used, 0));
    }
    struct rlimit limit;
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const QByteArray statm = contentsOf(QStringLiteral("/proc/self/statm"));
        const qint64 used = statm.split(' ').value(0).toLongLong() * ::sysconf(_SC_PAGESIZE);
        available = std::min(available, std::max<qint64>(qint64(limit.rlim_cur) - used, 0));
    }
    return available;
}

} // namespace varnel
