#pragma once

#include <QStringList>

namespace varnel {

// The two choices of the text-file dialogs, the first selected when a dialog opens.
inline QStringList textFileFilters() {
    return {QStringLiteral("Text Files (*.txt)"), QStringLiteral("All Files (*.*)")};
}

} // namespace varnel
