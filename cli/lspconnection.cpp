#include "lspconnection.h"

#include "files/descriptorio.h"

#include <QJsonDocument>

namespace varnel::cli {

namespace {

constexpr QByteArrayView LengthHeader = "Content-Length:";

bool isHeaderName(QByteArrayView name) {
    if (name.isEmpty())
        return false;
    for (const char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_'))
            return false;
    return true;
}

} // namespace

void MessageFraming::append(QByteArrayView bytes) {
    // What was taken goes once it is most of the buffer, so a large body is not moved
    // again for every piece that comes after it.
    if (m_at > 0 && m_at >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_at);
        m_at = 0;
    }
    m_buffer.append(bytes);
}

std::optional<QByteArray> MessageFraming::next(QString& skipped) {
    skipped.clear();
    while (m_at < m_buffer.size()) {
        const QByteArrayView rest = QByteArrayView(m_buffer).sliced(m_at);
        if (m_length >= 0 && rest.startsWith("\r\n")) {
            if (rest.size() - 2 < m_length)
                return std::nullopt;
            QByteArray body = rest.sliced(2, m_length).toByteArray();
            m_at += 2 + m_length;
            m_length = -1;
            m_skipping = false;
            return body;
        }
        const qsizetype lineEnd = rest.indexOf("\r\n");
        if (lineEnd < 0) {
            if (rest == "\r")
                return std::nullopt;
            // A line still coming, unless what came already cannot begin a header.
            const qsizetype colon = rest.indexOf(':');
            if (!isHeaderName(colon < 0 ? rest.first(std::min<qsizetype>(rest.size(), 64))
                                        : rest.first(colon)) ||
                rest.size() > 4096)
                skipToNextHeader(skipped, QStringLiteral("text that is not a header"));
            return std::nullopt;
        }
        if (lineEnd == 0) {
            skipToNextHeader(skipped, QStringLiteral("a message without a Content-Length header"));
            continue;
        }
        const QByteArrayView line = rest.first(lineEnd);
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || !isHeaderName(line.first(colon))) {
            skipToNextHeader(skipped, QStringLiteral("text that is not a header"));
            continue;
        }
        if (line.first(colon).compare(LengthHeader.chopped(1), Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const qint64 length = line.sliced(colon + 1).trimmed().toLongLong(&ok);
            if (!ok || length < 0) {
                skipToNextHeader(skipped, QStringLiteral("a Content-Length that is no length"));
                continue;
            }
            m_length = length;
        }
        m_at += lineEnd + 2;
    }
    return std::nullopt;
}

void MessageFraming::skipToNextHeader(QString& skipped, const QString& why) {
    if (!m_skipping && skipped.isEmpty())
        skipped = QStringLiteral("Skipped %1, up to the next Content-Length header.").arg(why);
    m_skipping = true;
    m_length = -1;
    const qsizetype header = QByteArrayView(m_buffer).indexOf(LengthHeader, m_at + 1);
    if (header >= 0) {
        m_at = header;
        return;
    }
    // The header's first letters may be at the end, the rest still to come.
    m_at = std::max(m_at + 1, m_buffer.size() - (LengthHeader.size() - 1));
}

void MessageWriter::send(const QJsonObject& message) {
    const QByteArray body = QJsonDocument(message).toJson(QJsonDocument::Compact);
    QByteArray bytes = "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    bytes.append(body);
    const std::lock_guard lock(m_mutex);
    writeAll(m_fd, bytes);
}

} // namespace varnel::cli
