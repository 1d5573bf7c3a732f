#include "lspdiagnostics.h"

#include "core/failure.h"

#include <QJsonArray>

namespace varnel::cli {

namespace {

// The protocol's DiagnosticSeverity.Warning: a list out of order is not broken.
constexpr int Warning = 2;

QJsonObject positionJson(TextPosition position) {
    return {{QStringLiteral("line"), position.line},
            {QStringLiteral("character"), position.character}};
}

QJsonObject publication(const QString& uri, int version, const QList<LineDiagnostic>& found) {
    QJsonArray diagnostics;
    for (const LineDiagnostic& diagnostic : found)
        diagnostics.append(QJsonObject{
            {QStringLiteral("range"), rangeJson({diagnostic.line, 0}, diagnostic.end)},
            {QStringLiteral("severity"), Warning},
            {QStringLiteral("source"), QStringLiteral("varnel")},
            {QStringLiteral("code"), QString::fromLatin1(findingKindName(diagnostic.kind))},
            {QStringLiteral("message"), diagnostic.message}});
    QJsonObject params{{QStringLiteral("uri"), uri}, {QStringLiteral("diagnostics"), diagnostics}};
    if (version >= 0)
        params.insert(QStringLiteral("version"), version);
    return {{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
            {QStringLiteral("method"), QStringLiteral("textDocument/publishDiagnostics")},
            {QStringLiteral("params"), params}};
}

} // namespace

QJsonObject rangeJson(TextPosition start, TextPosition end) {
    return {{QStringLiteral("start"), positionJson(start)},
            {QStringLiteral("end"), positionJson(end)}};
}

DiagnosticsPublisher::DiagnosticsPublisher(MessageWriter& out)
    : m_out(out)
    , m_thread([this] { run(); }) {}

DiagnosticsPublisher::~DiagnosticsPublisher() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void DiagnosticsPublisher::changed(const QString& uri, const QString& text, int version,
                                   PositionEncoding encoding) {
    {
        const std::lock_guard lock(m_mutex);
        const quint64 generation = ++m_generations;
        m_newest.insert(uri, generation);
        m_waiting.insert(uri, {uri, text, version, encoding, generation});
    }
    m_wake.notify_one();
}

void DiagnosticsPublisher::closed(const QString& uri) {
    // Under the lock, so that no check of the document's last text is sent after this.
    const std::lock_guard lock(m_mutex);
    m_newest.remove(uri);
    m_waiting.remove(uri);
    m_out.send(publication(uri, -1, {}));
}

bool DiagnosticsPublisher::superseded(const Check& check) {
    const std::lock_guard lock(m_mutex);
    return m_newest.value(check.uri) != check.generation;
}

void DiagnosticsPublisher::run() {
    for (;;) {
        Check check;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_waiting.isEmpty(); });
            if (m_stopping)
                return;
            check = m_waiting.take(m_waiting.begin().key());
        }
        try {
            const DocumentText document(std::move(check.text));
            const std::optional<QList<LineDiagnostic>> found =
                diagnosticsOf(document, check.encoding, [&] { return superseded(check); });
            if (!found)
                continue;
            const QJsonObject message = publication(check.uri, check.version, *found);
            const std::lock_guard lock(m_mutex);
            if (m_newest.value(check.uri) == check.generation)
                m_out.send(message);
        } catch (const Failure&) {
            // The client is gone; the server learns so when it reads.
            return;
        } catch (const std::bad_alloc&) {
            // A document too large for memory gets no diagnostics; the server goes on.
        }
    }
}

} // namespace varnel::cli
