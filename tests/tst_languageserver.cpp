// `varnel lsp`, driven as an editor drives it: the real program, messages on its standard
// input, answers read from its standard output.

#include "support/programrun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace varnel::testing;

namespace {

const QString Uri = QStringLiteral("file:///notes.txt");

QByteArray framed(const QJsonObject& message) {
    const QByteArray body = QJsonDocument(message).toJson(QJsonDocument::Compact);
    return "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QJsonObject request(const QJsonValue& id, const QString& method, const QJsonObject& params = {}) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}};
}

QJsonObject notification(const QString& method, const QJsonObject& params = {}) {
    return {{"jsonrpc", "2.0"}, {"method", method}, {"params", params}};
}

QJsonObject initialize(const QJsonArray& encodings = {}) {
    QJsonObject capabilities;
    if (!encodings.isEmpty())
        capabilities.insert("general", QJsonObject{{"positionEncodings", encodings}});
    return request(0, "initialize", {{"capabilities", capabilities}});
}

QJsonObject didOpen(const QString& text, int version = 1) {
    return notification(
        "textDocument/didOpen",
        {{"textDocument",
          QJsonObject{
              {"uri", Uri}, {"languageId", "plaintext"}, {"version", version}, {"text", text}}}});
}

QJsonObject didChange(const QString& text, int version) {
    return notification("textDocument/didChange",
                        {{"textDocument", QJsonObject{{"uri", Uri}, {"version", version}}},
                         {"contentChanges", QJsonArray{QJsonObject{{"text", text}}}}});
}

// The messages in the bytes the server wrote, in order.
QList<QJsonObject> messagesIn(QByteArray bytes) {
    QList<QJsonObject> messages;
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf("\r\n\r\n");
        if (end < 0 || !bytes.startsWith("Content-Length: "))
            return messages << QJsonObject{{"unframed", QString::fromUtf8(bytes)}};
        const qsizetype length = bytes.mid(16, end - 16).toLongLong();
        messages.append(QJsonDocument::fromJson(bytes.mid(end + 4, length)).object());
        bytes.remove(0, end + 4 + length);
    }
    return messages;
}

// Whether `actual` holds all that `pattern` says: an object's other keys are free.
bool matches(const QJsonValue& actual, const QJsonValue& pattern) {
    if (pattern.isObject()) {
        const QJsonObject object = pattern.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            if (!actual.isObject() || !actual.toObject().contains(it.key()) ||
                !matches(actual.toObject().value(it.key()), it.value()))
                return false;
        return true;
    }
    return actual == pattern;
}

// A running server, talked to one message at a time.
class Client {
public:
    explicit Client(const QJsonArray& encodings = {}) {
        m_server.start(programFolder() + "/varnel", {"lsp"});
        m_server.waitForStarted();
        send(initialize(encodings));
        m_initialized = replyTo(0);
        send(notification("initialized"));
    }
    ~Client() {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.kill();
            m_server.waitForFinished();
        }
    }
    const QJsonObject& initialized() const { return m_initialized; }
    void send(const QJsonObject& message) { m_server.write(framed(message)); }
    void send(const QByteArray& body) {
        m_server.write("Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }

    // The next message; empty when none comes in time.
    QJsonObject next() {
        for (;;) {
            const qsizetype end = m_read.indexOf("\r\n\r\n");
            if (end >= 0) {
                const qsizetype length = m_read.mid(16, end - 16).toLongLong();
                if (m_read.size() >= end + 4 + length) {
                    const QByteArray body = m_read.mid(end + 4, length);
                    m_read.remove(0, end + 4 + length);
                    return QJsonDocument::fromJson(body).object();
                }
            }
            if (!m_server.waitForReadyRead(20000))
                return {};
            m_read += m_server.readAllStandardOutput();
        }
    }
    QJsonObject replyTo(int id) {
        for (QJsonObject message = next(); !message.isEmpty(); message = next())
            if (message.value("id") == id)
                return message;
        return {};
    }
    // The params of the next diagnostics published.
    QJsonObject nextPublication() {
        for (QJsonObject message = next(); !message.isEmpty(); message = next())
            if (message.value("method") == "textDocument/publishDiagnostics")
                return message.value("params").toObject();
        return {};
    }
    QJsonArray diagnostics() {
        const QJsonObject published = nextPublication();
        if (published.isEmpty())
            return {"no diagnostics came"};
        return published.value("diagnostics").toArray();
    }

private:
    QProcess m_server;
    QByteArray m_read;
    QJsonObject m_initialized;
};

// The text with the edits applied, which must not overlap.
QString applied(QString text, const QJsonArray& edits) {
    // From the last edit back, so that the earlier positions still hold.
    QList<QJsonObject> sorted;
    for (const QJsonValue& edit : edits)
        sorted.append(edit.toObject());
    std::sort(sorted.begin(), sorted.end(), [](const QJsonObject& a, const QJsonObject& b) {
        return a["range"]["start"]["line"].toInt() > b["range"]["start"]["line"].toInt();
    });
    const auto offsetOf = [&](const QJsonValue& position) {
        qsizetype at = 0;
        for (int line = position["line"].toInt(); line > 0; --line)
            at = text.indexOf(u'\n', at) + 1;
        return at + position["character"].toInt();
    };
    for (const QJsonObject& edit : sorted) {
        const qsizetype from = offsetOf(edit["range"]["start"]);
        text.replace(from, offsetOf(edit["range"]["end"]) - from, edit["newText"].toString());
    }
    return text;
}

// The edit's first and last lines, replaced and replacing, differ: it replaces only lines
// that move or change.
bool replacesOnlyWhatChanges(const QString& text, const QJsonObject& edit) {
    const auto lineAt = [&](int line) { return text.section(u'\n', line, line); };
    const QStringList replacing = edit["newText"].toString().split(u'\n');
    const int first = edit["range"]["start"]["line"].toInt();
    const int end = edit["range"]["end"]["line"].toInt();
    return replacing.first() != lineAt(first) &&
           (replacing.size() < 2 || replacing.value(replacing.size() - 2) != lineAt(end - 1));
}

} // namespace

class TestLanguageServer : public QObject {
    Q_OBJECT
private slots:
    void protocol_data();
    void protocol();
    void positions_data();
    void positions();
    void blockEdits_data();
    void blockEdits();
    void newestTextWins();
};

void TestLanguageServer::protocol_data() {
    QTest::addColumn<QByteArray>("input"); // after initialize
    QTest::addColumn<QJsonArray>("expected");
    QTest::addColumn<int>("status");
    const QByteArray exit = framed(notification("exit"));
    const QByteArray shutdownAndExit = framed(request(90, "shutdown")) + exit;
    const QJsonObject shutDown{{"id", 90}, {"result", QJsonValue::Null}};
    const auto error = [](const QJsonValue& id, int code) {
        return QJsonObject{{"id", id}, {"error", QJsonObject{{"code", code}}}};
    };
    const QJsonObject logged{{"method", "window/logMessage"}};
    const QByteArray unknown = framed(request(7, "textDocument/hover"));
    QTest::newRow("unknown method, then on")
        << unknown + shutdownAndExit << QJsonArray{error(7, -32601), shutDown} << 0;
    QTest::newRow("unknown notification ignored")
        << framed(notification("$/setTrace", {{"value", "off"}})) + shutdownAndExit
        << QJsonArray{shutDown} << 0;
    QTest::newRow("malformed JSON")
        << "Content-Length: 9\r\n\r\n{\"id\": 3," + unknown + shutdownAndExit
        << QJsonArray{error(QJsonValue::Null, -32700), error(7, -32601), shutDown} << 0;
    QTest::newRow("not an object") << framed({}).replace("{}", "[]") + shutdownAndExit
                                   << QJsonArray{error(QJsonValue::Null, -32600), shutDown} << 0;
    QTest::newRow("missing header")
        << QByteArray(R"({"jsonrpc":"2.0","id":5,"method":"textDocument/hover"})") + unknown +
               shutdownAndExit
        << QJsonArray{logged, error(7, -32601), shutDown} << 0;
    QTest::newRow("length no number")
        << "Content-Length: many\r\n\r\n{}" + unknown + shutdownAndExit
        << QJsonArray{logged, error(7, -32601), shutDown} << 0;
    QTest::newRow("no length") << "Content-Type: x\r\n\r\n{}" + unknown + shutdownAndExit
                               << QJsonArray{logged, error(7, -32601), shutDown} << 0;
    QTest::newRow("other headers kept")
        << "Content-Type: application/vscode-jsonrpc; charset=utf-8\r\n" + unknown + shutdownAndExit
        << QJsonArray{error(7, -32601), shutDown} << 0;
    QTest::newRow("change to a document not open")
        << framed(didChange("a\n", 2)) + unknown + shutdownAndExit
        << QJsonArray{logged, error(7, -32601), shutDown} << 0;
    QTest::newRow("request after shutdown") << framed(request(90, "shutdown")) + unknown + exit
                                            << QJsonArray{shutDown, error(7, -32600)} << 0;
    QTest::newRow("exit without shutdown") << exit << QJsonArray{} << 1;
    QTest::newRow("input ends without exit") << QByteArray() << QJsonArray{} << 1;
    QTest::newRow("a reply from the client ignored")
        << framed({{"jsonrpc", "2.0"}, {"id", 4}, {"result", QJsonValue::Null}}) + shutdownAndExit
        << QJsonArray{shutDown} << 0;
}

void TestLanguageServer::protocol() {
    QFETCH(QByteArray, input);
    QFETCH(QJsonArray, expected);
    QFETCH(int, status);
    const ProgramRun run = runProgram({{"lsp"}, {}, framed(initialize()) + input});
    QCOMPARE(run.status, status);
    QList<QJsonObject> messages = messagesIn(run.out);
    QVERIFY(!messages.isEmpty());
    QVERIFY(matches(messages.takeFirst(), QJsonObject{{"id", 0}}));
    QCOMPARE(messages.size(), expected.size());
    for (qsizetype i = 0; i < messages.size(); ++i)
        QVERIFY2(matches(messages[i], expected[i]),
                 QJsonDocument(messages[i]).toJson(QJsonDocument::Compact).constData());
}

void TestLanguageServer::positions_data() {
    QTest::addColumn<QJsonArray>("offered");
    QTest::addColumn<QString>("line"); // sorts after "a"
    QTest::addColumn<int>("padding");  // lines before the block: a text read the long way
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<int>("end");
    const QJsonArray none;
    const QJsonArray utf8{"utf-8"};
    QTest::newRow("ASCII") << none << "bb" << 0 << "utf-16" << 2;
    QTest::newRow("two-byte letter, UTF-16") << none << "bé" << 0 << "utf-16" << 2;
    QTest::newRow("two-byte letter, UTF-8") << utf8 << "bé" << 0 << "utf-8" << 3;
    QTest::newRow("three-byte letter, UTF-8") << utf8 << "b中" << 0 << "utf-8" << 4;
    QTest::newRow("beyond U+FFFF, UTF-16") << none << "b😀x" << 0 << "utf-16" << 4;
    QTest::newRow("beyond U+FFFF, UTF-8") << utf8 << "b😀x" << 0 << "utf-8" << 6;
    QTest::newRow("UTF-8 among others")
        << QJsonArray{"utf-32", "utf-16", "utf-8"} << "b😀" << 0 << "utf-8" << 5;
    QTest::newRow("only others") << QJsonArray{"utf-32"} << "b😀" << 0 << "utf-16" << 3;
    QTest::newRow("long text, UTF-16") << none << "b😀\t\"x\"\\" << 3000 << "utf-16" << 8;
    QTest::newRow("long text, UTF-8") << utf8 << "b😀\t\"x\"\\" << 3000 << "utf-8" << 10;
}

void TestLanguageServer::positions() {
    QFETCH(QJsonArray, offered);
    QFETCH(QString, line);
    QFETCH(int, padding);
    QFETCH(QString, encoding);
    QFETCH(int, end);
    Client client(offered);
    QCOMPARE(client.initialized()["result"]["capabilities"]["positionEncoding"].toString(),
             encoding);
    const QString text =
        QStringLiteral("x\n").repeated(padding) + "# varnel: sorted\n" + line + "\na";
    // Characters as escapes too, as some clients send them.
    QByteArray open = QJsonDocument(didOpen(text)).toJson(QJsonDocument::Compact);
    open.replace("😀", "\\ud83d\\ude00");
    open.replace("\\\"x\\\"", "\\\"\\u0078\\\"");
    client.send(open);
    const QJsonArray diagnostics = client.diagnostics();
    QCOMPARE(diagnostics.size(), 1);
    const QJsonObject range = diagnostics[0]["range"].toObject();
    QCOMPARE(range, (QJsonObject{{"start", QJsonObject{{"line", padding + 1}, {"character", 0}}},
                                 {"end", QJsonObject{{"line", padding + 1}, {"character", end}}}}));
    // The block's lines swapped: the last line, without a break, ends the edit.
    client.send(
        request(1, "textDocument/formatting", {{"textDocument", QJsonObject{{"uri", Uri}}}}));
    const QJsonArray edits = client.replyTo(1)["result"].toArray();
    QCOMPARE(edits.size(), 1);
    QCOMPARE(edits[0]["range"]["end"].toObject(),
             (QJsonObject{{"line", padding + 2}, {"character", 1}}));
    QCOMPARE(edits[0]["newText"].toString(), "a\n" + line);
}

void TestLanguageServer::blockEdits_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("codes");
    QTest::addColumn<int>("blockLine"); // where "Sort this block" is asked for
    QTest::addColumn<QString>("blockSorted");
    QTest::newRow("comments and commas")
        << "deps = [\n    # varnel: sorted\n    \"zlib\",\n    # pinned\n    \"attrs\",\n"
           "    \"numpy\"\n    # varnel: end\n]\n"
        << QStringList{"order"} << 2
        << "deps = [\n    # varnel: sorted\n    # pinned\n    \"attrs\",\n    \"numpy\",\n"
           "    \"zlib\"\n    # varnel: end\n]\n";
    QTest::newRow("two blocks, one sorted")
        << "# varnel: sorted\nb\na\n# varnel: end\nmid\n# varnel: sorted\nd\nc\nf\ne\n"
        << QStringList{"order", "order", "order"} << 6
        << "# varnel: sorted\nb\na\n# varnel: end\nmid\n# varnel: sorted\nc\nd\ne\nf\n";
    QTest::newRow("CR LF, groups, last line without a break")
        << "# varnel: sorted\r\nb\r\na\r\n\r\nd\r\nc" << QStringList{"order", "order"} << 4
        << "# varnel: sorted\r\na\r\nb\r\n\r\nc\r\nd";
    QTest::newRow("repeat left out")
        << "# varnel: sorted unique\nb\nb\na\nc\n"
        << QStringList{"repeat", "order"} << 1 << "# varnel: sorted unique\na\nb\nc\n";
    QTest::newRow("in order") << "# varnel: sorted\na\nb\n"
                              << QStringList{} << 1 << "# varnel: sorted\na\nb\n";
    QTest::newRow("no markers") << "b\na\n" << QStringList{} << 0 << "b\na\n";
    QTest::newRow("marker problem") << "b\n# varnel: end\na\n"
                                    << QStringList{"marker"} << 1 << "b\n# varnel: end\na\n";
}

void TestLanguageServer::blockEdits() {
    QFETCH(QString, text);
    QFETCH(QStringList, codes);
    QFETCH(int, blockLine);
    QFETCH(QString, blockSorted);
    // What the command line says of the same text and writes for it.
    QTemporaryDir folder;
    const QString path = folder.filePath("notes.txt");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
    file.close();
    const ProgramRun checked = runProgram({{"check", "--blocks", path}});
    const ProgramRun sorted = runProgram({{"sort", "--blocks", "--order=code", path}});

    Client client;
    client.send(didOpen(text));
    const QJsonArray diagnostics = client.diagnostics();
    QStringList said;
    QStringList saidCodes;
    for (const QJsonValue& diagnostic : diagnostics) {
        QVERIFY(matches(diagnostic, QJsonObject{{"severity", 2}, {"source", "varnel"}}));
        const int line = diagnostic["range"]["start"]["line"].toInt();
        QCOMPARE(diagnostic["range"]["end"]["line"].toInt(), line);
        QString lineText = text.section(u'\n', line, line);
        if (lineText.endsWith(u'\r'))
            lineText.chop(1);
        QCOMPARE(diagnostic["range"]["end"]["character"].toInt(), lineText.size());
        said.append(QStringLiteral("%1:%2: %3\n")
                        .arg(path)
                        .arg(line + 1)
                        .arg(diagnostic["message"].toString()));
        saidCodes.append(diagnostic["code"].toString());
    }
    QCOMPARE(said.join(QString()), QString::fromUtf8(checked.out));
    QCOMPARE(saidCodes, codes);

    const auto actions = [&](int id, const QJsonObject& context) {
        client.send(request(
            id, "textDocument/codeAction",
            {{"textDocument", QJsonObject{{"uri", Uri}}},
             {"range", QJsonObject{{"start", QJsonObject{{"line", blockLine}, {"character", 0}}},
                                   {"end", QJsonObject{{"line", blockLine}, {"character", 0}}}}},
             {"context", context}}));
        QJsonObject byTitle;
        for (const QJsonValue& action : client.replyTo(id)["result"].toArray())
            byTitle.insert(action["title"].toString(),
                           QJsonObject{{"edits", action["edit"]["changes"][Uri]},
                                       {"diagnostics", action["diagnostics"]}});
        return byTitle;
    };
    // The diagnostics of the line asked about, as editors send them.
    QJsonArray onTheLine;
    for (const QJsonValue& diagnostic : diagnostics)
        if (diagnostic["range"]["start"]["line"].toInt() == blockLine)
            onTheLine.append(diagnostic);
    const QJsonObject offered = actions(1, {{"diagnostics", onTheLine}});
    // A file whose markers cannot be followed is not sorted.
    const QString all = sorted.status == 0 ? QString::fromUtf8(sorted.out) : text;
    QCOMPARE(applied(text, offered["Sort this block"]["edits"].toArray()), blockSorted);
    if (blockSorted != text)
        QCOMPARE(offered["Sort this block"]["diagnostics"].toArray(), onTheLine);
    QCOMPARE(applied(text, offered["Sort all blocks in this file"]["edits"].toArray()), all);
    for (const QJsonValue& edit : offered["Sort all blocks in this file"]["edits"].toArray())
        QVERIFY(replacesOnlyWhatChanges(text, edit.toObject()));
    // Asked for one kind, only that kind comes.
    QCOMPARE(actions(2, {{"only", QJsonArray{"source"}}}).keys(),
             all == text ? QStringList{} : QStringList{"Sort all blocks in this file"});

    client.send(
        request(3, "textDocument/formatting", {{"textDocument", QJsonObject{{"uri", Uri}}}}));
    const QJsonArray formatted = client.replyTo(3)["result"].toArray();
    QCOMPARE(applied(text, formatted), all);
    QCOMPARE(formatted.isEmpty(), all == text);
}

void TestLanguageServer::newestTextWins() {
    Client client;
    // A long block, so that changes come while a check runs.
    QString inOrder = "# varnel: sorted\n";
    for (int i = 0; i < 200000; ++i)
        inOrder += QStringLiteral("line %1\n").arg(i, 6, 10, QChar(u'0'));
    const QString outOfOrder = QString(inOrder).replace("line 100000\n", "line 000000\n");
    client.send(didOpen(outOfOrder, 1));
    for (int version = 2; version <= 6; ++version)
        client.send(didChange(version % 2 ? outOfOrder : inOrder, version));
    // Older texts' diagnostics may come first, in order; the newest's come last.
    int version = 0;
    QJsonArray found;
    while (version < 6) {
        const QJsonObject published = client.nextPublication();
        QVERIFY(published.value("version").toInt() > version);
        version = published.value("version").toInt();
        found = published.value("diagnostics").toArray();
    }
    QCOMPARE(found, QJsonArray{});
    client.send(request(9, "shutdown"));
    QCOMPARE(client.next().value("id"), 9);
    // Closed, its diagnostics are cleared.
    Client closing;
    closing.send(didOpen(outOfOrder));
    QCOMPARE(closing.diagnostics().size(), 1);
    closing.send(
        notification("textDocument/didClose", {{"textDocument", QJsonObject{{"uri", Uri}}}}));
    QCOMPARE(closing.diagnostics(), QJsonArray{});
}

QTEST_GUILESS_MAIN(TestLanguageServer)
#include "tst_languageserver.moc"
