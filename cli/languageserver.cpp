#include "languageserver.h"

#include "lspconnection.h"
#include "lspdiagnostics.h"
#include "lspdocument.h"

#include "core/failure.h"
#include "files/descriptorio.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <csignal>
#include <optional>
#include <vector>

namespace varnel::cli {

namespace {

// The protocol's error codes.
constexpr int ParseError = -32700;
constexpr int InvalidRequest = -32600;
constexpr int MethodNotFound = -32601;
constexpr int InvalidParams = -32602;
constexpr int ServerNotInitialized = -32002;

constexpr int LogWarning = 2;

const QString QuickFix = QStringLiteral("quickfix");
const QString FixAll = QStringLiteral("source.fixAll.varnel");

struct OpenDocument {
    QString text;
    int version = 0;
};

// Whether a code action of `kind` is among those the client asks for: a kind asked for
// covers the kinds under it ("source" covers "source.fixAll.varnel").
bool asked(const QJsonValue& only, const QString& kind) {
    if (!only.isArray())
        return true;
    for (const QJsonValue& value : only.toArray()) {
        const QString wanted = value.toString();
        if (kind == wanted || kind.startsWith(wanted + u'.'))
            return true;
    }
    return false;
}

class LanguageServer {
public:
    explicit LanguageServer(int out)
        : m_out(out)
        , m_publisher(m_out) {}

    // Handles one message's body; the exit status once the client said exit.
    std::optional<int> handle(QByteArrayView body);
    void log(const QString& message);

private:
    QJsonValue request(const QString& method, const QJsonObject& params, int& error,
                       QString& errorMessage);
    void notification(const QString& method, const QJsonObject& params, const MessageJson& json);

    QJsonObject initialize(const QJsonObject& params);
    QJsonValue codeActions(const QJsonObject& params, const OpenDocument& document);
    QJsonValue formatting(const QJsonObject& params, const OpenDocument& document);
    QJsonObject workspaceEdit(const QString& uri, const QList<TextReplacement>& edits) const;
    QJsonArray textEdits(const QList<TextReplacement>& edits) const;

    void reply(const QJsonValue& id, const QJsonValue& result);
    void fail(const QJsonValue& id, int code, const QString& message);

    MessageWriter m_out;
    DiagnosticsPublisher m_publisher;
    QHash<QString, OpenDocument> m_documents;
    PositionEncoding m_encoding = PositionEncoding::Utf16;
    bool m_initialized = false;
    bool m_shutDown = false;
};

std::optional<int> LanguageServer::handle(QByteArrayView body) {
    const MessageJson parsed(body);
    if (parsed.error().error != QJsonParseError::NoError) {
        fail(QJsonValue::Null, ParseError, parsed.error().errorString());
        return std::nullopt;
    }
    const QJsonDocument& document = parsed.json();
    const QJsonObject message = document.object();
    const QJsonValue id = message.value(QStringLiteral("id"));
    const QJsonValue method = message.value(QStringLiteral("method"));
    if (!document.isObject() || !method.isString()) {
        // A response to a request of ours: this server sends none.
        if (document.isObject() && !id.isUndefined() &&
            (message.contains(QStringLiteral("result")) ||
             message.contains(QStringLiteral("error"))))
            return std::nullopt;
        fail(id.isUndefined() ? QJsonValue(QJsonValue::Null) : id, InvalidRequest,
             QStringLiteral("Not a request or notification"));
        return std::nullopt;
    }
    const QString name = method.toString();
    const QJsonObject params = message.value(QStringLiteral("params")).toObject();
    if (id.isUndefined()) {
        if (name == u"exit")
            return m_shutDown ? 0 : 1;
        // Before initialize and after shutdown, notifications are dropped.
        if (m_initialized && !m_shutDown)
            notification(name, params, parsed);
        return std::nullopt;
    }
    if (m_shutDown) {
        fail(id, InvalidRequest, QStringLiteral("The server is shut down"));
    } else if (!m_initialized && name != u"initialize") {
        fail(id, ServerNotInitialized, QStringLiteral("The server is not initialized"));
    } else {
        int error = 0;
        QString errorMessage;
        const QJsonValue result = request(name, params, error, errorMessage);
        if (error != 0)
            fail(id, error, errorMessage);
        else
            reply(id, result);
    }
    return std::nullopt;
}

QJsonValue LanguageServer::request(const QString& method, const QJsonObject& params, int& error,
                                   QString& errorMessage) {
    if (method == u"initialize") {
        if (m_initialized) {
            error = InvalidRequest;
            errorMessage = QStringLiteral("The server is initialized already");
            return {};
        }
        return initialize(params);
    }
    if (method == u"shutdown") {
        m_shutDown = true;
        return QJsonValue::Null;
    }
    if (method == u"textDocument/codeAction" || method == u"textDocument/formatting") {
        const QString uri = params.value(QStringLiteral("textDocument"))
                                .toObject()
                                .value(QStringLiteral("uri"))
                                .toString();
        const auto document = m_documents.constFind(uri);
        if (document == m_documents.cend()) {
            error = InvalidParams;
            errorMessage = QStringLiteral("%1 is not open").arg(uri);
            return {};
        }
        return method == u"textDocument/formatting" ? formatting(params, *document)
                                                    : codeActions(params, *document);
    }
    error = MethodNotFound;
    errorMessage = QStringLiteral("Unknown method %1").arg(method);
    return {};
}

void LanguageServer::notification(const QString& method, const QJsonObject& params,
                                  const MessageJson& json) {
    const QJsonObject textDocument = params.value(QStringLiteral("textDocument")).toObject();
    const QString uri = textDocument.value(QStringLiteral("uri")).toString();
    const int version = textDocument.value(QStringLiteral("version")).toInt(-1);
    if (method == u"textDocument/didOpen") {
        OpenDocument& document = m_documents[uri];
        document = {json.text(textDocument.value(QStringLiteral("text"))), version};
        m_publisher.changed(uri, document.text, version, m_encoding);
    } else if (method == u"textDocument/didChange") {
        const auto document = m_documents.find(uri);
        if (document == m_documents.end()) {
            log(QStringLiteral("A change to %1, which is not open, was ignored.").arg(uri));
            return;
        }
        // The whole text each time, as the server asks: the last change holds it.
        const QJsonArray changes = params.value(QStringLiteral("contentChanges")).toArray();
        if (changes.isEmpty())
            return;
        *document = {json.text(changes.last().toObject().value(QStringLiteral("text"))), version};
        m_publisher.changed(uri, document->text, version, m_encoding);
    } else if (method == u"textDocument/didClose") {
        if (m_documents.remove(uri))
            m_publisher.closed(uri);
    }
    // initialized, didSave (the text came with the last change) and any other notification
    // ask nothing of this server.
}

QJsonObject LanguageServer::initialize(const QJsonObject& params) {
    m_initialized = true;
    const QJsonArray encodings = params.value(QStringLiteral("capabilities"))
                                     .toObject()
                                     .value(QStringLiteral("general"))
                                     .toObject()
                                     .value(QStringLiteral("positionEncodings"))
                                     .toArray();
    m_encoding = encodings.contains(QStringLiteral("utf-8")) ? PositionEncoding::Utf8
                                                             : PositionEncoding::Utf16;
    const QJsonObject capabilities{
        {QStringLiteral("positionEncoding"),
         m_encoding == PositionEncoding::Utf8 ? QStringLiteral("utf-8") : QStringLiteral("utf-16")},
        {QStringLiteral("textDocumentSync"),
         QJsonObject{{QStringLiteral("openClose"), true},
                     {QStringLiteral("change"), 1}, // the whole text
                     {QStringLiteral("save"), true}}},
        {QStringLiteral("codeActionProvider"),
         QJsonObject{{QStringLiteral("codeActionKinds"), QJsonArray{QuickFix, FixAll}}}},
        {QStringLiteral("documentFormattingProvider"), true}};
    return {{QStringLiteral("capabilities"), capabilities},
            {QStringLiteral("serverInfo"),
             QJsonObject{{QStringLiteral("name"), QStringLiteral("varnel")},
                         {QStringLiteral("version"), QStringLiteral(VARNEL_VERSION)}}}};
}

QJsonValue LanguageServer::codeActions(const QJsonObject& params, const OpenDocument& open) {
    const QString uri = params.value(QStringLiteral("textDocument"))
                            .toObject()
                            .value(QStringLiteral("uri"))
                            .toString();
    const QJsonObject context = params.value(QStringLiteral("context")).toObject();
    const QJsonValue only = context.value(QStringLiteral("only"));
    const DocumentText document(open.text);
    const SortedBlocks& blocks = document.blocks();
    QJsonArray actions;
    if (asked(only, QuickFix)) {
        // The blocks of the diagnostics the client names, or of where its range starts.
        const QJsonArray diagnostics = context.value(QStringLiteral("diagnostics")).toArray();
        const auto lineOf = [](const QJsonValue& range) {
            return qsizetype(range.toObject()
                                 .value(QStringLiteral("start"))
                                 .toObject()
                                 .value(QStringLiteral("line"))
                                 .toInteger(-1));
        };
        std::vector<const SortedBlock*> held;
        const auto hold = [&](qsizetype line) {
            const SortedBlock* block = blockHolding(blocks, line);
            if (block && std::find(held.begin(), held.end(), block) == held.end())
                held.push_back(block);
        };
        for (const QJsonValue& diagnostic : diagnostics)
            hold(lineOf(diagnostic.toObject().value(QStringLiteral("range"))));
        if (held.empty())
            hold(lineOf(params.value(QStringLiteral("range"))));
        for (const SortedBlock* block : held) {
            const QList<TextReplacement> edits = sortEdits(document, {{*block}, {}}, m_encoding);
            if (edits.isEmpty())
                continue;
            QJsonArray fixed;
            for (const QJsonValue& diagnostic : diagnostics)
                if (blockHolding(blocks, lineOf(diagnostic.toObject().value(
                                             QStringLiteral("range")))) == block)
                    fixed.append(diagnostic);
            actions.append(QJsonObject{{QStringLiteral("title"), QStringLiteral("Sort this block")},
                                       {QStringLiteral("kind"), QuickFix},
                                       {QStringLiteral("diagnostics"), fixed},
                                       {QStringLiteral("isPreferred"), true},
                                       {QStringLiteral("edit"), workspaceEdit(uri, edits)}});
        }
    }
    if (asked(only, FixAll)) {
        const QList<TextReplacement> edits = sortEdits(document, blocks, m_encoding);
        if (!edits.isEmpty())
            actions.append(QJsonObject{
                {QStringLiteral("title"), QStringLiteral("Sort all blocks in this file")},
                {QStringLiteral("kind"), FixAll},
                {QStringLiteral("edit"), workspaceEdit(uri, edits)}});
    }
    return actions;
}

QJsonValue LanguageServer::formatting(const QJsonObject& params, const OpenDocument& open) {
    Q_UNUSED(params);
    const DocumentText document(open.text);
    return textEdits(sortEdits(document, document.blocks(), m_encoding));
}

QJsonObject LanguageServer::workspaceEdit(const QString& uri,
                                          const QList<TextReplacement>& edits) const {
    return {{QStringLiteral("changes"), QJsonObject{{uri, textEdits(edits)}}}};
}

QJsonArray LanguageServer::textEdits(const QList<TextReplacement>& edits) const {
    QJsonArray array;
    for (const TextReplacement& edit : edits)
        array.append(QJsonObject{{QStringLiteral("range"), rangeJson(edit.start, edit.end)},
                                 {QStringLiteral("newText"), edit.text}});
    return array;
}

void LanguageServer::reply(const QJsonValue& id, const QJsonValue& result) {
    m_out.send({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                {QStringLiteral("id"), id},
                {QStringLiteral("result"), result}});
}

void LanguageServer::fail(const QJsonValue& id, int code, const QString& message) {
    m_out.send({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                {QStringLiteral("id"), id},
                {QStringLiteral("error"), QJsonObject{{QStringLiteral("code"), code},
                                                      {QStringLiteral("message"), message}}}});
}

void LanguageServer::log(const QString& message) {
    m_out.send({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                {QStringLiteral("method"), QStringLiteral("window/logMessage")},
                {QStringLiteral("params"), QJsonObject{{QStringLiteral("type"), LogWarning},
                                                       {QStringLiteral("message"), message}}}});
}

} // namespace

int runLanguageServer(int in, int out) {
    // A client gone is seen as a failed write, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        LanguageServer server(out);
        MessageFraming framing;
        std::vector<char> piece(1 << 20);
        QString skipped;
        for (;;) {
            const qsizetype read = readSome(in, piece.data(), qsizetype(piece.size()));
            if (read <= 0)
                return 1; // the client ended without exit
            framing.append(QByteArrayView(piece.data(), read));
            while (const std::optional<QByteArrayView> body = framing.next(skipped)) {
                if (!skipped.isEmpty())
                    server.log(skipped);
                if (const std::optional<int> status = server.handle(*body))
                    return *status;
            }
            if (!skipped.isEmpty())
                server.log(skipped);
        }
    } catch (const Failure&) {
        return 1;
    }
}

} // namespace varnel::cli
