#pragma once

#include <QLatin1StringView>
#include <QString>
#include <QStringView>

namespace varnel {

// A line's characters as the lists keep them: one byte each (Latin-1) when every character
// is below U+0100, as in most lists, and UTF-16 otherwise. Both are the same characters;
// a narrow line's byte is its character's code unit, so positions and lengths are the same
// either way. Sixteen bytes, so it is passed in registers.
class LineText {
public:
    LineText() = default;
    LineText(QStringView wide)
        : m_data(wide.utf16())
        , m_size(quint64(wide.size()))
        , m_wide(1) {}
    LineText(QLatin1StringView narrow)
        : m_data(narrow.data())
        , m_size(quint64(narrow.size()))
        , m_wide(0) {}
    LineText(const QString& wide)
        : LineText(QStringView(wide)) {}

    bool isWide() const { return m_wide != 0; }
    qsizetype size() const { return qsizetype(m_size); }
    bool isEmpty() const { return m_size == 0; }
    QStringView wide() const { return {static_cast<const char16_t*>(m_data), size()}; }
    QLatin1StringView narrow() const { return {static_cast<const char*>(m_data), size()}; }
    const uchar* bytes() const { return static_cast<const uchar*>(m_data); }

    char16_t at(qsizetype i) const { return isWide() ? wide()[i].unicode() : char16_t(bytes()[i]); }
    LineText first(qsizetype n) const {
        return isWide() ? LineText(wide().first(n)) : LineText(narrow().first(n));
    }
    QString toString() const { return isWide() ? wide().toString() : narrow().toString(); }

private:
    const void* m_data = "";
    quint64 m_size : 63 = 0;
    quint64 m_wide : 1 = 0;
};
static_assert(sizeof(LineText) == 16);

// Whether every unit of `text` is below U+0100, so it can be kept one byte a character.
bool fitsLatin1(QStringView text);

// Writes the `text.size()` units of `text` to `out` as UTF-16.
void widenLatin1(QLatin1StringView text, char16_t* out);

} // namespace varnel
