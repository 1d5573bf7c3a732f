#pragma once

#include "core/failure.h"

#include <QString>

namespace varnel {

// Creating, writing or reading a temporary file failed: the trouble of the folder it is in,
// not of what was being read when it was needed.
class TemporaryFileFailure : public Failure {
public:
    TemporaryFileFailure(int error, const QString& folder);
    const QString& folder() const { return m_folder; }
    // The system's words alone; the description names the folder too.
    const QString& reason() const { return m_reason; }

private:
    QString m_folder;
    QString m_reason;
};

} // namespace varnel
