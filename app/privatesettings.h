#pragma once

#include <QTemporaryDir>

namespace varnel {

// Varnel keeps no settings, yet Qt's own file dialog keeps its history of folders through
// QSettings (~/.config/QtProject.conf) when it closes. While one of these lives, QSettings
// keeps the user's settings in a temporary folder of its own, removed with it: the history
// lasts as long as the window. Made before any QSettings is, and outliving them all.
class PrivateSettingsFolder {
public:
    PrivateSettingsFolder();
    PrivateSettingsFolder(const PrivateSettingsFolder&) = delete;
    PrivateSettingsFolder& operator=(const PrivateSettingsFolder&) = delete;

    QString path() const;

private:
    QTemporaryDir m_folder;
};

} // namespace varnel
