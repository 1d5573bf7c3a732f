#include "temporaryfilefailure.h"

#include "systemfailure.h"

namespace varnel {

TemporaryFileFailure::TemporaryFileFailure(int error, const QString& folder)
    : Failure(systemFailure(error).number(),
              systemFailure(error).description() +
                  QStringLiteral(" (a temporary file in %1)").arg(folder))
    , m_folder(folder)
    , m_reason(systemFailure(error).description()) {}

} // namespace varnel
