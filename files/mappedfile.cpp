#include "mappedfile.h"

#include "bytesource.h"

#include <cerrno>
#include <cstdint>
#include <limits>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

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
    if (m_mapping)
        ::munmap(m_mapping, m_mappingSize);
}

void MappedFile::consume() {
    if (m_mapping && ::lseek(m_fd, off_t(m_end), SEEK_SET) < 0)
        throw systemFailure(errno);
}

} // namespace varnel
