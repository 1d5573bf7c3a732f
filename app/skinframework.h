#pragma once

#include <QString>

class QWidget;

namespace varnel {

// The optional skin: a Qt style sheet file, loaded once and then applied to the window.
class SkinFramework {
public:
    // Throws Failure when the file cannot be read.
    void load(const QString& path);
    // Throws Failure when no skin was loaded.
    void applyTo(QWidget* window);

    const QString& styleSheet() const { return m_styleSheet; }

private:
    QString m_styleSheet;
    bool m_loaded = false;
};

} // namespace varnel
