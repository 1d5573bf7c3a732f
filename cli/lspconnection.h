#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <mutex>
#include <optional>

// The base protocol of an editor's language client: each message is a few header lines, a
// blank line, and a JSON body of exactly Content-Length bytes.

namespace varnel::cli {

// Cuts the bytes that come from the client into message bodies. What cannot be a message
// is skipped up to the next Content-Length header, and said once.
class MessageFraming {
public:
    void append(QByteArrayView bytes);

    // The next whole body, if it has come: a view that holds until the next append().
    // `skipped` says what was passed over on the way, empty when nothing was.
    std::optional<QByteArrayView> next(QString& skipped);

private:
    // Drops what was read up to the next Content-Length header, or as much as cannot start
    // one.
    void skipToNextHeader(QString& skipped, const QString& why);

    QByteArray m_buffer;
    qsizetype m_at = 0;      // where what is not yet taken starts
    qint64 m_length = -1;    // the Content-Length of the message whose headers are read
    bool m_skipping = false; // a skip said already, until a message is whole again
};

// A message's body as JSON, its long strings decoded apart: Qt's parser takes its time over a
// string full of escapes, as a document's text is with its line breaks.
class MessageJson {
public:
    explicit MessageJson(QByteArrayView body);

    const QJsonDocument& json() const { return m_json; }
    const QJsonParseError& error() const { return m_error; }
    // The string `value` is, read whole where it was long.
    QString text(const QJsonValue& value) const;

private:
    QJsonDocument m_json;
    QJsonParseError m_error;
    QList<QString> m_long; // in the JSON, "\u0000" and the number of each
};

// Writes messages to a descriptor, one whole message at a time from any thread.
class MessageWriter {
public:
    explicit MessageWriter(int fd)
        : m_fd(fd) {}
    void send(const QJsonObject& message);

private:
    std::mutex m_mutex;
    int m_fd;
};

} // namespace varnel::cli
