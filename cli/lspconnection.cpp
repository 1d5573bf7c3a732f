#include "lspconnection.h"

#include "files/descriptorio.h"

#include <QJsonValue>

#include <cstring>

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

// From this length on a string is decoded apart.
constexpr qsizetype LongString = 4096;

// Writes the code point as UTF-8 at `out` and returns where it ends.
char* writeUtf8(char32_t code, char* out) {
    if (code < 0x80) {
        *out++ = char(code);
    } else if (code < 0x800) {
        *out++ = char(0xC0 | (code >> 6));
        *out++ = char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out++ = char(0xE0 | (code >> 12));
        *out++ = char(0x80 | ((code >> 6) & 0x3F));
        *out++ = char(0x80 | (code & 0x3F));
    } else {
        *out++ = char(0xF0 | (code >> 18));
        *out++ = char(0x80 | ((code >> 12) & 0x3F));
        *out++ = char(0x80 | ((code >> 6) & 0x3F));
        *out++ = char(0x80 | (code & 0x3F));
    }
    return out;
}

// The four hexadecimal digits of a \u escape at `at`, or -1.
int hexUnit(QByteArrayView raw, qsizetype at) {
    if (at + 4 > raw.size())
        return -1;
    bool ok = false;
    const int unit = raw.sliced(at, 4).toInt(&ok, 16);
    return ok ? unit : -1;
}

// The text of a JSON string between its quotes, escapes undone, in runs between the
// escapes. False for what only the full parser should judge: a bad escape, a lone
// surrogate.
bool decodeJsonString(QByteArrayView raw, QString& text) {
    // An escape is never shorter than what it stands for.
    QByteArray utf8(raw.size(), Qt::Uninitialized);
    char* out = utf8.data();
    for (qsizetype at = 0; at < raw.size();) {
        const auto* slash =
            static_cast<const char*>(std::memchr(raw.data() + at, '\\', size_t(raw.size() - at)));
        const qsizetype run = slash ? slash - raw.data() - at : raw.size() - at;
        std::memcpy(out, raw.data() + at, size_t(run));
        out += run;
        at += run;
        if (!slash)
            break;
        if (at + 1 >= raw.size())
            return false;
        const char escaped = raw[at + 1];
        at += 2;
        switch (escaped) {
        case '"':
        case '\\':
        case '/':
            *out++ = escaped;
            break;
        case 'b':
            *out++ = '\b';
            break;
        case 'f':
            *out++ = '\f';
            break;
        case 'n':
            *out++ = '\n';
            break;
        case 'r':
            *out++ = '\r';
            break;
        case 't':
            *out++ = '\t';
            break;
        case 'u': {
            const int unit = hexUnit(raw, at);
            if (unit < 0 || QChar::isLowSurrogate(char32_t(unit)))
                return false;
            at += 4;
            char32_t code = char32_t(unit);
            if (QChar::isHighSurrogate(code)) {
                const int low = raw.sliced(at).startsWith("\\u") ? hexUnit(raw, at + 2) : -1;
                if (low < 0 || !QChar::isLowSurrogate(char32_t(low)))
                    return false;
                code = QChar::surrogateToUcs4(char16_t(unit), char16_t(low));
                at += 6;
            }
            out = writeUtf8(code, out);
            break;
        }
        default:
            return false;
        }
    }
    text = QString::fromUtf8(QByteArrayView(utf8.constData(), out - utf8.constData()));
    return true;
}

// Where the string whose first character is at `from` ends: its closing quote, or -1.
qsizetype closingQuote(QByteArrayView body, qsizetype from) {
    for (qsizetype at = from; at < body.size(); ++at) {
        const auto* quote =
            static_cast<const char*>(std::memchr(body.data() + at, '"', size_t(body.size() - at)));
        if (!quote)
            return -1;
        at = quote - body.data();
        qsizetype slashes = 0;
        while (at - slashes > from && body[at - slashes - 1] == '\\')
            ++slashes;
        if (slashes % 2 == 0)
            return at;
    }
    return -1;
}

} // namespace

MessageJson::MessageJson(QByteArrayView body) {
    QByteArray shortened;
    qsizetype kept = 0; // what of `body` is in `shortened` already
    for (qsizetype at = 0; at < body.size();) {
        const auto* quote =
            static_cast<const char*>(std::memchr(body.data() + at, '"', size_t(body.size() - at)));
        if (!quote)
            break;
        const qsizetype start = quote - body.data() + 1;
        const qsizetype end = closingQuote(body, start);
        if (end < 0)
            break;
        QString text;
        if (end - start >= LongString && decodeJsonString(body.sliced(start, end - start), text)) {
            shortened.append(body.sliced(kept, start - kept));
            shortened.append("\\u0000").append(QByteArray::number(m_long.size())).append('"');
            m_long.append(std::move(text));
            kept = end + 1;
        }
        at = end + 1;
    }
    shortened.append(body.sliced(kept));
    m_json = QJsonDocument::fromJson(shortened, &m_error);
}

QString MessageJson::text(const QJsonValue& value) const {
    const QString text = value.toString();
    if (text.size() > 1 && text.front() == QChar(0)) {
        bool ok = false;
        const qsizetype number = text.sliced(1).toLongLong(&ok);
        if (ok && number >= 0 && number < m_long.size())
            return m_long[number];
    }
    return text;
}

void MessageFraming::append(QByteArrayView bytes) {
    // What was taken goes once it is most of the buffer, so a large body is not moved
    // again for every piece that comes after it.
    if (m_at > 0 && m_at >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_at);
        m_at = 0;
    }
    m_buffer.append(bytes);
}

std::optional<QByteArrayView> MessageFraming::next(QString& skipped) {
    skipped.clear();
    while (m_at < m_buffer.size()) {
        const QByteArrayView rest = QByteArrayView(m_buffer).sliced(m_at);
        if (m_length >= 0 && rest.startsWith("\r\n")) {
            if (rest.size() - 2 < m_length)
                return std::nullopt;
            const QByteArrayView body = rest.sliced(2, m_length);
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
