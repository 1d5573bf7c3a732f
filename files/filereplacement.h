#pragma once

#include "core/failure.h"
#include "filemetadata.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

#include <sys/stat.h>

namespace varnel {

// Puts new content where a file was, so that the file is either as it was or wholly new.
//
// A plain file, new or existing, is replaced by a complete new file: written beside it in
// the same folder (without a name until the end where the system allows), its data on disk
// before it takes the old one's place by a rename. It keeps what the old file had: owner and
// group, permissions, extended attributes and POSIX ACL. Where no such file can be made or
// it could not keep those (another user's file, a folder the user may not write, a single
// file mounted over another, a file with several hard links, which a rename would split),
// the complete content is gathered elsewhere first and then copied into the file itself,
// as the shell's ">" writes; SIGINT, SIGTERM and SIGHUP wait while that copy runs. That copy
// first reserves the new length (a full disk or quota fails with the file untouched), keeps
// the old bytes in a named file, NAME.varnel-old-RANDOM beside it or in the temporary folder
// where its folder cannot be written, on disk before the file is written over, and removes
// it once the new content is; a failure puts the old bytes back, and a kill leaves them
// there.
// A link is followed to the file it names, which is replaced (or made) in its place.
// A device is written into. A folder is refused (EISDIR). A named pipe or a socket is
// written into where the caller asks so, and refused (ESPIPE) otherwise: opening a pipe
// waits for its reader.
//
// Destroyed or failed before commit(), it leaves the old file as it was and nothing beside
// it. Failures are the caller's description of the system's error number.
class FileReplacement {
public:
    using Describe = Failure (*)(int error);
    enum class Streams {
        Refused,
        // Also written into: a named pipe, a socket, and the descriptor that /dev/stdout,
        // /dev/stderr, /dev/fd/N or /proc/self/fd/N names (not opened again, so nothing
        // written to it before is lost).
        WrittenInto,
    };

    explicit FileReplacement(Describe describe);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    void open(const QByteArray& path, Streams streams);
    // After open(): the file must still be the one `seen` when its content is replaced. If
    // another program has put another file under its name or written to it since, commit()
    // throws `changed` and leaves the file as that program left it.
    void expectUnchanged(const FileIdentity& seen, const Failure& changed);
    bool isOpen() const { return m_fd >= 0 || m_memory; }
    void write(QByteArrayView bytes);
    // Puts what was written in place.
    void commit();
    // Leaves the old file as it was.
    void discard() noexcept;

    // Removes every temporary file with a name that a replacement has made and not yet put
    // in place. Async-signal-safe: for a handler that ends the program.
    static void removeNamedTemporaries() noexcept;

private:
    enum class Way { Into, Beside, InPlace };
    void openInto(const QByteArray& path, bool stream);
    void openPlainFile(const QByteArray& path, bool old);
    bool createUnnamedBeside(bool replacing);
    bool createNamedBeside(bool replacing);
    void gatherElsewhere();
    void writeAllTo(int fd, QByteArrayView bytes);
    void putInPlace();
    void copyInPlace();
    void checkUnchanged();
    void keepOldBytes(off_t size);
    bool keepOldBytesIn(int folder, off_t size);
    bool putOldBytesBack() noexcept;
    void removeOldCopy() noexcept;
    void closeTarget() noexcept;
    [[noreturn]] void fail(int error);

    Describe m_describe;
    Way m_way = Way::Into;
    int m_fd = -1; // where the bytes go
    bool m_ownsFd = true;
    bool m_memory = false; // gathered in m_gathered, no file could be had for them
    QByteArray m_gathered;
    int m_folder = -1; // the target's folder
    QByteArray m_base; // the target's name in it
    QByteArray m_folderName;
    QByteArray m_temporary; // the name of the file beside it, while it has one
    int m_slot = -1;        // where removeNamedTemporaries() finds that name
    int m_target = -1;      // the existing file, open for writing
    struct ::stat m_old {};
    qint64 m_written = 0;
    qint64 m_handedToDisk = 0;
    bool m_targetReadable = false;
    std::optional<FileIdentity> m_expected;
    std::optional<Failure> m_changed;
    // The old bytes of a file written into, while it is.
    int m_oldCopy = -1;
    int m_oldCopyFolder = -1; // when not the target's
    int m_oldCopySlot = -1;
    QByteArray m_oldCopyName;
    QByteArray m_oldCopyPath; // for the user, should it have to stay
    off_t m_oldSize = 0;
    bool m_overwriting = false; // the old bytes are only in the copy
    int m_spareTarget = -1;     // the file still, while its descriptor is being closed
    QByteArray m_keptCopy;      // where the old bytes stayed when they could not be put back
};

} // namespace varnel
