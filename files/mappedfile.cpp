#include "mappedfile.h"

#include "systemfailure.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <limits>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

FileChangedFailure::FileChangedFailure()
    : Failure(systemFailure(EIO)) {}

namespace {

// A mapping the fault handler answers for; `from` 0 is a free slot. Lock-free, as the
// handler may run at any moment on any thread.
struct Slot {
    std::atomic<uintptr_t> from{0};
    std::atomic<uintptr_t> to{0};
    std::atomic<bool> changed{false};
};

// A few files are mapped at a time at most; past that, files are read.
constexpr int MostTracked = 16;
Slot tracked[MostTracked];
struct sigaction previousAction;
uintptr_t pageSize = 4096;

void onBusError(int signal, siginfo_t* info, void* context) {
    Q_UNUSED(signal);
    Q_UNUSED(context);
    const int savedErrno = errno;
    const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
    // A positive code is the fault's own; a signal sent by a process has no address.
    if (info->si_code > 0) {
        for (Slot& slot : tracked) {
            const uintptr_t from = slot.from.load(std::memory_order_acquire);
            const uintptr_t to = slot.to.load(std::memory_order_acquire);
            if (from == 0 || at < from || at >= to)
                continue;
            // Marked before the zeros can be read, so whoever reads them and then asks
            // finds it so.
            slot.changed.store(true);
            // The file ends before this page, so before every page after it too: zeros to
            // the mapping's end spare a fault for each.
            const uintptr_t page = at & ~(pageSize - 1);
            if (::mmap(reinterpret_cast<void*>(page), to - page, PROT_READ,
                       MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) != MAP_FAILED) {
                errno = savedErrno;
                return;
            }
            break;
        }
    }
    // Not a mapped file's: as if this handler had never been there. A fault comes again
    // once this returns; a signal sent is sent again.
    ::sigaction(SIGBUS, &previousAction, nullptr);
    if (info->si_code <= 0)
        ::raise(SIGBUS);
    errno = savedErrno;
}

bool installHandler() {
    pageSize = uintptr_t(::sysconf(_SC_PAGESIZE));
    struct sigaction action = {};
    action.sa_sigaction = onBusError;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    // The previous action is kept before this one takes its place: the handler may need it
    // at once.
    return ::sigaction(SIGBUS, nullptr, &previousAction) == 0 &&
           ::sigaction(SIGBUS, &action, nullptr) == 0;
}

// The slot taken for [from, to), or -1 when there is no handler or no free slot.
int track(const void* mapping, size_t size) {
    static const bool installed = installHandler();
    if (!installed)
        return -1;
    const auto from = reinterpret_cast<uintptr_t>(mapping);
    for (int k = 0; k < MostTracked; ++k) {
        uintptr_t free = 0;
        if (tracked[k].from.compare_exchange_strong(free, from)) {
            tracked[k].changed.store(false);
            tracked[k].to.store(from + size, std::memory_order_release);
            return k;
        }
    }
    return -1;
}

void untrack(int slot) {
    tracked[slot].to.store(0, std::memory_order_release);
    tracked[slot].from.store(0, std::memory_order_release);
}

} // namespace

MappedFile::MappedFile(int fd)
    : m_fd(fd) {
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return;
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    // A file of the kernel's own (/proc) tells no size: only reading finds its end.
    if (at < 0 || status.st_size <= at)
        return;
    // What a pointer cannot span, the stream reads a block at a time.
    if (quint64(status.st_size) > quint64(std::numeric_limits<qsizetype>::max()) ||
        quint64(status.st_size) > quint64(SIZE_MAX))
        return;
    // The mapping starts at a page; the bytes before `at` were someone else's.
    const off_t page = ::sysconf(_SC_PAGESIZE);
    const off_t start = at - at % page;
    const size_t size = size_t(status.st_size - start);
    void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, start);
    if (mapping == MAP_FAILED)
        return;
    // A mapping no fault handler answers for would end the program if the file were cut
    // short meanwhile: such a file is read instead.
    m_slot = track(mapping, size);
    if (m_slot < 0) {
        ::munmap(mapping, size);
        return;
    }
    // Read once from start to end: the pages behind are not needed again, and large pages
    // spare most of the faults where the file system offers them.
    ::madvise(mapping, size, MADV_SEQUENTIAL);
#if defined(MADV_HUGEPAGE)
    ::madvise(mapping, size, MADV_HUGEPAGE);
#endif
    m_mapping = mapping;
    m_mappingSize = size;
    m_bytes = static_cast<const char*>(mapping) + (at - start);
    m_size = qsizetype(status.st_size - at);
    m_end = status.st_size;
}

MappedFile::~MappedFile() {
    if (!m_mapping)
        return;
    untrack(m_slot);
    ::munmap(m_mapping, m_mappingSize);
}

void MappedFile::verify(bool askSize) const {
    if (!m_mapping)
        return;
    if (tracked[m_slot].changed.load())
        throw FileChangedFailure();
    if (!askSize)
        return;
    // Cut within the last page, the file leaves that page mapped, its tail zeros: no fault
    // tells, only the size.
    struct stat status;
    if (::fstat(m_fd, &status) != 0)
        throw systemFailure(errno);
    if (status.st_size < m_end)
        throw FileChangedFailure();
}

void MappedFile::letGoBefore(qsizetype offset) {
    if (!m_mapping)
        return;
    const auto start = reinterpret_cast<uintptr_t>(m_mapping);
    const uintptr_t end =
        (reinterpret_cast<uintptr_t>(m_bytes) + uintptr_t(offset)) & ~(pageSize - 1);
    if (end > start)
        ::madvise(m_mapping, end - start, MADV_DONTNEED);
}

void MappedFile::consume() {
    if (m_mapping && ::lseek(m_fd, off_t(m_end), SEEK_SET) < 0)
        throw systemFailure(errno);
}

} // namespace varnel
