#pragma once

#include <QString>

class QWidget;

namespace varnel {

// The optional skin: a Qt style sheet file. Its members come in the order start-up calls
// them: load the file, set bit 0 of the options word, switch on the two flags, apply.
class SkinFramework {
public:
    // Throws Failure when the file cannot be read.
    void load(const QString& path, const QString& iniFileName);
    int options() const { return m_options; }
    void setOptions(int options) { m_options = options; }
    void setApplyOptions(bool on) { m_applyOptions = on; }
    void setApplyColors(bool on) { m_applyColors = on; }
    // Throws Failure when no skin was loaded.
    void applyTo(QWidget* window);

    const QString& styleSheet() const { return m_styleSheet; }

private:
    QString m_styleSheet;
    bool m_loaded = false;
    int m_options = 0;
    bool m_applyOptions = false;
    bool m_applyColors = false;
};

} // namespace varnel
