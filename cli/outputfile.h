#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

#include <sys/stat.h>

namespace varnel::cli {

// Where `varnel sort -o OUTPUT` writes. A plain file, new or existing, is replaced only by a
// complete new one (written beside it, then renamed over it), so it may be one of the
// inputs; a replaced file keeps its permissions, and its owner where the system allows.
// What is not a plain file is written into as the shell's ">" would: a device, a named pipe
// (which waits for its reader). A file the program's standard output (or another descriptor
// it was given) already writes to is written through that, so nothing written there before
// is lost. A folder is refused.
// Failures are systemFailure.
class OutputFile {
public:
    explicit OutputFile(const QString& name);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(QByteArrayView bytes);
    // Puts the new file in place; until then an old one stays as it was.
    void commit();

private:
    void openBeside(const QByteArray& target, const struct ::stat* old);

    int m_fd = -1;
    bool m_ownsFd = true;
    QByteArray m_target;    // what the new file replaces once complete; empty when written into
    QByteArray m_temporary; // the new file until then
    std::optional<struct ::stat> m_old; // the file it replaces
};

} // namespace varnel::cli
