#include "skinframework.h"

#include "core/failure.h"

#include <QFile>
#include <QWidget>

namespace varnel {

void SkinFramework::load(const QString& path, const QString& iniFileName) {
    Q_UNUSED(iniFileName); // style sheets have no sections to pick from
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
    // Bit 0 of the options says the skin covers the window's children as well; a style
    // sheet set on the window does that by itself.
    window->setStyleSheet(m_styleSheet);
}

} // namespace varnel
