#pragma once

#include <QByteArray>
#include <QString>

namespace varnel {

// The file-exists test: true when the path's last-modification time can be read, which
// holds for folders as well as files.
bool fileExists(const QString& path);
// The same by the name's bytes, as encodeFileName gives them.
bool fileExists(const QByteArray& name);

} // namespace varnel
