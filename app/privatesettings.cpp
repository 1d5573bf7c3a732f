#include "privatesettings.h"

#include <QSettings>

namespace varnel {

PrivateSettingsFolder::PrivateSettingsFolder() {
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, path());
}

QString PrivateSettingsFolder::path() const {
    // Without a temporary folder, a place where nothing can be written: the history is lost
    // rather than kept in the user's home.
    return m_folder.isValid() ? m_folder.path() : QStringLiteral("/dev/null/varnel");
}

} // namespace varnel
