#include "skinframework.h"

#include "core/failure.h"

#include <QFile>
#include <QWidget>

namespace varnel {

void SkinFramework::load(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.error() == QFileDevice::PermissionsError)
            throw failures::permissionDenied();
        throw failures::fileNotFound();
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw failures::deviceIoError();
    m_styleSheet = QString::fromUtf8(bytes);
    m_loaded = true;
}

void SkinFramework::applyTo(QWidget* window) {
    if (!m_loaded || !window)
        throw Failure(ErrorNumber::InvalidProcedureCall,
                      QStringLiteral("Invalid procedure call or argument"));
    // A style sheet set on the window covers its children as well.
    window->setStyleSheet(m_styleSheet);
}

} // namespace varnel
