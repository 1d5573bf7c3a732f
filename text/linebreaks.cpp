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
    LineCutter cutter;
    LineRange line;
    bool crLf;
    while (cutter.cut(units, text.size(), true, line, crLf) == LineCutter::Cut::Line)
        lines.push_back({quint32(line.from), quint32(line.length)});
    // CR LF texts counted two breaks a line.
    if (lines.capacity() > lines.size() + lines.size() / 4)
        lines.shrink_to_fit();
    return lines;
}

} // namespace varnel
