#pragma once

#include "lspconnection.h"
#include "lspdocument.h"

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

// The diagnostics of the open documents, worked out on a thread of their own so that the
// server goes on reading while a long document is checked.

namespace varnel::cli {

// A range of the protocol.
QJsonObject rangeJson(TextPosition start, TextPosition end);

// Publishes each document's diagnostics after each change: one check a document at a time,
// the newest text winning. A text that comes while an older one is checked stops that
// check, and an older text's diagnostics are never sent.
class DiagnosticsPublisher {
public:
    explicit DiagnosticsPublisher(MessageWriter& out);
    ~DiagnosticsPublisher();
    DiagnosticsPublisher(const DiagnosticsPublisher&) = delete;
    DiagnosticsPublisher& operator=(const DiagnosticsPublisher&) = delete;

    void changed(const QString& uri, const QString& text, int version, PositionEncoding encoding);
    // Clears the document's diagnostics, and drops any check of it under way.
    void closed(const QString& uri);

private:
    struct Check {
        QString uri;
        QString text;
        int version = 0;
        PositionEncoding encoding = PositionEncoding::Utf16;
        quint64 generation = 0;
    };
    void run();
    bool superseded(const Check& check);

    MessageWriter& m_out;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    QHash<QString, Check> m_waiting;
    QHash<QString, quint64> m_newest; // an open document's newest generation
    quint64 m_generations = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace varnel::cli
