#include "linebreaks.h"

#include "core/failure.h"

#include <limits>

namespace varnel {

std::vector<LineSpan> lineSpansOf(QStringView text) {
    // Spans address the text with 32-bit offsets.
    if (text.size() > qsizetype(std::numeric_limits<quint32>::max()))
        throw failures::outOfMemory();
    const char16_t* const units = text.utf16();
    std::vector<LineSpan> lines;
    lines.reserve(size_t(countBreaks(units, text.size()) + 1));
    LineCuts cuts;
    cutLines(units, text.size(), true, cuts, [&lines](qsizetype from, qsizetype length, qsizetype) {
        lines.push_back({quint32(from), quint32(length)});
    });
    // CR LF texts counted two breaks a line.
    if (lines.capacity() > lines.size() + lines.size() / 4)
        lines.shrink_to_fit();
    return lines;
}

} // namespace varnel
