#include "guard.h"

#include "errorreport.h"

namespace varnel {

void GuardedOperation::report(const QString& description) {
    ++m_failures;
    if (m_beforeReport)
        m_beforeReport();
    showErrorReport(m_ui, description, m_location, m_line);
}

} // namespace varnel
