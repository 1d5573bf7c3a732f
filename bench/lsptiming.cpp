// Prints how long `varnel lsp` takes from a change of a long document (one marked block,
// out of order at one place) to that change's diagnostics, the real program driven over
// pipes as an editor drives it: "lsp_change_s SECONDS", the best of three changes.
// Usage: varnel_lsp_timing VARNEL LINES

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <cstdio>

namespace {

QByteArray framed(const QJsonObject& message) {
    const QByteArray body = QJsonDocument(message).toJson(QJsonDocument::Compact);
    return "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

class Server {
public:
    explicit Server(const QString& program) {
        m_process.start(program, {QStringLiteral("lsp")});
        m_process.waitForStarted();
    }
    ~Server() {
        send({{"jsonrpc", "2.0"}, {"id", 2}, {"method", "shutdown"}});
        send({{"jsonrpc", "2.0"}, {"method", "exit"}});
        m_process.waitForFinished();
    }
    void send(const QJsonObject& message) { write(framed(message)); }
    void write(const QByteArray& bytes) { m_process.write(bytes); }
    // The next message whose method (or id) is `wanted`.
    QJsonObject waitFor(const QJsonValue& wanted) {
        for (;;) {
            const qsizetype end = m_read.indexOf("\r\n\r\n");
            if (end >= 0) {
                const qsizetype length = m_read.mid(16, end - 16).toLongLong();
                if (m_read.size() >= end + 4 + length) {
                    const QJsonObject message =
                        QJsonDocument::fromJson(m_read.mid(end + 4, length)).object();
                    m_read.remove(0, end + 4 + length);
                    if (message.value("method") == wanted || message.value("id") == wanted)
                        return message;
                    continue;
                }
            }
            if (!m_process.waitForReadyRead(60000))
                return {};
            m_read += m_process.readAllStandardOutput();
        }
    }

private:
    QProcess m_process;
    QByteArray m_read;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3)
        return 2;
    const int lines = args[2].toInt();
    QString text = QStringLiteral("# varnel: sorted\n");
    for (int i = 0; i < lines; ++i)
        text += QStringLiteral("item %1\n").arg(i, 9, 10, QChar(u'0'));
    const QString uri = QStringLiteral("file:///bench.txt");
    Server server(args[1]);
    server.send({{"jsonrpc", "2.0"},
                 {"id", 1},
                 {"method", "initialize"},
                 {"params", QJsonObject{{"capabilities", QJsonObject{}}}}});
    server.waitFor(1);
    server.send({{"jsonrpc", "2.0"},
                 {"method", "textDocument/didOpen"},
                 {"params", QJsonObject{{"textDocument", QJsonObject{{"uri", uri},
                                                                     {"languageId", "plaintext"},
                                                                     {"version", 1},
                                                                     {"text", text}}}}}});
    server.waitFor(QStringLiteral("textDocument/publishDiagnostics"));
    double best = 1e9;
    for (int version = 2; version <= 4; ++version) {
        // A different line out of order each time.
        QString changed = text;
        changed.replace(QStringLiteral("item %1\n").arg(lines / version, 9, 10, QChar(u'0')),
                        QStringLiteral("item 999999999\n"));
        const QByteArray message =
            framed({{"jsonrpc", "2.0"},
                    {"method", "textDocument/didChange"},
                    {"params",
                     QJsonObject{{"textDocument", QJsonObject{{"uri", uri}, {"version", version}}},
                                 {"contentChanges", QJsonArray{QJsonObject{{"text", changed}}}}}}});
        QElapsedTimer timer;
        timer.start();
        server.write(message);
        const QJsonObject published =
            server.waitFor(QStringLiteral("textDocument/publishDiagnostics"));
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        if (published["params"]["diagnostics"].toArray().size() != 1) {
            std::fprintf(stderr, "the change's finding was not published\n");
            return 1;
        }
        best = std::min(best, seconds);
    }
    std::printf("lsp_change_s %.4f\n", best);
    return 0;
}
