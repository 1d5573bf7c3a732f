#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

namespace varnel::fuzzing {

// Reads fuzzer bytes as a stream of UTF-16 code units, lone surrogates included, and
// splits it into texts at every 0xFFFF unit: every string the program can hold is
// reachable this way.
class Utf16Texts {
public:
    Utf16Texts(const uint8_t* data, size_t size)
        : m_data(data)
        , m_size(size) {}

    QString next() {
        QString text;
        while (m_at + 1 < m_size) {
            const auto unit = char16_t(m_data[m_at] | (m_data[m_at + 1] << 8));
            m_at += 2;
            if (unit == 0xFFFF)
                break;
            text.append(QChar(unit));
        }
        return text;
    }
    bool atEnd() const { return m_at + 1 >= m_size; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

} // namespace varnel::fuzzing
