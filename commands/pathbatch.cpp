#include "pathbatch.h"

#include "lists/linelistmodel.h"
#include "order/linetext.h"

#include <QLatin1StringView>

#include <algorithm>
#include <cstring>
#include <utility>

namespace varnel {

void PathBatch::appendLatin1(QByteArrayView prefix, QByteArrayView name) {
    if (m_isWide) {
        const qsizetype start = m_wide.size();
        m_wide.append(QLatin1StringView(prefix)).append(QLatin1StringView(name));
        endPath(start);
        return;
    }
    const qsizetype start = m_used;
    char* out = narrowRoom(prefix.size() + name.size());
    std::memcpy(out, prefix.data(), size_t(prefix.size()));
    std::memcpy(out + prefix.size(), name.data(), size_t(name.size()));
    endPath(start);
}

void PathBatch::append(QStringView path) {
    if (!m_isWide && !fitsLatin1(path))
        widen();
    if (m_isWide) {
        const qsizetype start = m_wide.size();
        m_wide.append(path);
        endPath(start);
        return;
    }
    const qsizetype start = m_used;
    char* out = narrowRoom(path.size());
    for (const QChar c : path)
        *out++ = char(c.unicode());
    endPath(start);
}

void PathBatch::handTo(LineListModel& list) {
    if (m_spans.empty())
        return;
    const std::vector<LineSpan> spans = std::exchange(m_spans, {});
    const bool wide = std::exchange(m_isWide, false);
    QString text = std::exchange(m_wide, {});
    QByteArray bytes = std::exchange(m_narrow, {});
    bytes.truncate(std::exchange(m_used, 0));
    // The list keeps the buffer as long as the paths: not the room it grew into as well.
    if (wide) {
        if (text.capacity() - text.size() > text.size() / 8)
            text.squeeze();
        list.appendLines(std::move(text), spans);
    } else {
        if (bytes.capacity() - bytes.size() > bytes.size() / 8)
            bytes.squeeze();
        list.appendLatin1Lines(std::move(bytes), spans);
    }
}

char* PathBatch::narrowRoom(qsizetype size) {
    if (m_used + size > m_narrow.size())
        m_narrow.resize(std::max({m_used + size, 2 * m_narrow.size(), qsizetype(64 * 1024)}));
    char* room = m_narrow.data() + m_used;
    m_used += size;
    return room;
}

void PathBatch::widen() {
    m_wide = QString::fromLatin1(QByteArrayView(m_narrow).first(m_used));
    m_narrow.clear();
    m_used = 0;
    m_isWide = true;
}

void PathBatch::endPath(qsizetype start) {
    const qsizetype end = m_isWide ? m_wide.size() : m_used;
    m_spans.push_back({quint32(start), quint32(end - start)});
}

} // namespace varnel
