#pragma once

#include <QStringList>

class QMimeData;

namespace varnel {

// The local paths a drag carries, in the source's order; empty unless it carries local
// files and nothing else. Names that are not valid UTF-8 keep their bytes.
QStringList droppedFilePaths(const QMimeData& data);

// Drag-over: whether the input list takes the data. Text, list items and web links are
// refused.
bool acceptsFileDrag(const QMimeData& data);

} // namespace varnel
