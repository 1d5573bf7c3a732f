#include "cli/findingreport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace varnel::cli;

namespace {

struct Sample {
    Finding::Kind kind;
    QByteArray file;
    qint64 line;
    QByteArray text;
    QByteArray next;
};

QByteArray written(FindingReport::Format format, const QList<Sample>& samples) {
    const std::unique_ptr<FindingReport> report = FindingReport::create(format);
    QByteArray out;
    report->begin(out);
    for (const Sample& s : samples)
        report->add({s.kind, s.file, s.line, s.text, s.next}, out);
    report->end(out);
    return out;
}

const Sample plain{Finding::Kind::Order, "list.txt", 3, "zebra", "apple"};

// A name read back from JSON as its bytes: U+DC80 to U+DCFF stand for the bytes that were
// not UTF-8, as Python's os.fsencode takes them.
QByteArray nameBytes(const QString& name) {
    QByteArray bytes;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t unit = name[i].unicode();
        if (unit >= 0xDC80 && unit <= 0xDCFF) {
            bytes.append(char(unit - 0xDC00));
        } else {
            const qsizetype units = QChar::isHighSurrogate(unit) ? 2 : 1;
            bytes.append(name.mid(i, units).toUtf8());
            i += units - 1;
        }
    }
    return bytes;
}

} // namespace

Q_DECLARE_METATYPE(Sample)

class TestFindingReport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void formatNames_data();
    void formatNames();
    void textFormats_data();
    void textFormats();
    void jsonLinesParse_data();
    void jsonLinesParse();
    void sarifLog_data();
    void sarifLog();
    void placesInAWorkTree_data();
    void placesInAWorkTree();

private:
    QTemporaryDir m_outside;
};

void TestFindingReport::initTestCase() {
    // The build tree may lie in a git work tree, whose root would change the names the
    // samples give.
    QVERIFY(QDir::setCurrent(m_outside.path()));
}

void TestFindingReport::formatNames_data() {
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("format"); // -1: no format
    QTest::newRow("gnu") << "gnu" << int(FindingReport::Format::Gnu);
    QTest::newRow("lines") << "lines" << int(FindingReport::Format::Lines);
    QTest::newRow("json") << "json" << int(FindingReport::Format::Json);
    QTest::newRow("github") << "github" << int(FindingReport::Format::GitHub);
    QTest::newRow("sarif") << "sarif" << int(FindingReport::Format::Sarif);
    QTest::newRow("case matters") << "JSON" << -1;
    QTest::newRow("unknown") << "xml" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestFindingReport::formatNames() {
    QFETCH(QString, word);
    QFETCH(int, format);
    const auto named = FindingReport::formatNamed(word);
    QCOMPARE(named ? int(*named) : -1, format);
}

void TestFindingReport::textFormats_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<Sample>("sample");
    QTest::addColumn<QByteArray>("expected");
    const auto gnu = int(FindingReport::Format::Gnu);
    const auto github = int(FindingReport::Format::GitHub);
    const auto lines = int(FindingReport::Format::Lines);
    QTest::newRow("gnu") << gnu << plain
                         << QByteArray("list.txt:3: \"zebra\" sorts after \"apple\" on line 4\n");
    QTest::newRow("gnu repeat") << gnu << Sample{Finding::Kind::Repeat, "-", 1, "Apple", "apple"}
                                << QByteArray("-:1: \"Apple\" repeats on line 2\n");
    QTest::newRow("gnu escapes") << gnu
                                 << Sample{Finding::Kind::Order, "a", 1, "q\"b\\t\t1\x7f", "\x01"}
                                 << QByteArray("a:1: \"q\\\"b\\\\t\\t1\\177\" sorts after "
                                               "\"\\001\" on line 2\n");
    // U+0085 is a control, U+00A0 a letter of text.
    QTest::newRow("gnu second controls, no-break space")
        << gnu << Sample{Finding::Kind::Order, "a", 1, "x\xc2\x85y", "\xc2\xa0z\xc2\x9f"}
        << QByteArray("a:1: \"x\\302\\205y\" sorts after \"\xc2\xa0z\\302\\237\" on line 2\n");
    // A byte that starts a sequence and ends the text stays what it is.
    QTest::newRow("gnu lone lead byte at the end")
        << gnu << Sample{Finding::Kind::Order, "a", 1, "x\xc2", "w"}
        << QByteArray("a:1: \"x\xc2\" sorts after \"w\" on line 2\n");
    QTest::newRow("lines") << lines << Sample{Finding::Kind::Order, "a", 1, "Zeb\"ra\t", "x"}
                           << QByteArray("Zeb\"ra\t\n");
    QTest::newRow("github") << github << plain
                            << QByteArray("::error file=list.txt,line=3::\"zebra\" sorts after "
                                          "\"apple\" on line 4\n");
    QTest::newRow("github escapes")
        << github << Sample{Finding::Kind::Repeat, "a,b:c%d", 7, "50%\r", "x"}
        << QByteArray("::error file=a%2Cb%3Ac%25d,line=7::\"50%25\\r\" repeats on line 8\n");
    QTest::newRow("github message keeps , and :")
        << github << Sample{Finding::Kind::Order, "f", 2, "a,b", "a:b"}
        << QByteArray("::error file=f,line=2::\"a,b\" sorts after \"a:b\" on line 3\n");
}

void TestFindingReport::textFormats() {
    QFETCH(int, format);
    QFETCH(Sample, sample);
    QFETCH(QByteArray, expected);
    QCOMPARE(written(FindingReport::Format(format), {sample}), expected);
}

void TestFindingReport::jsonLinesParse_data() {
    QTest::addColumn<Sample>("sample");
    QTest::addColumn<QByteArray>("file"); // as written, between the quotes; empty: not asked
    QTest::newRow("plain") << plain << QByteArray("list.txt");
    QTest::newRow("quotes, controls, accents")
        << Sample{Finding::Kind::Repeat, "d\"ir/\\f", 12, "\"é\"\n\x1f\t", "tab\there"}
        << QByteArray("d\\\"ir/\\\\f");
    // Every byte that is no part of UTF-8 comes back: a stray one, a sequence cut short
    // (at the end too), an overlong form, a surrogate, beside characters that are whole.
    QTest::newRow("file name that is no UTF-8")
        << Sample{Finding::Kind::Order,
                  "caf\xe9 \xc3\xa9\xe2\x82.\xc0\xaf\xed\xa0\x80\xf0\x9f\x98\x80\xf4\x90\xe2", 1,
                  "b", "a"}
        << QByteArray();
    // The edges of what is UTF-8 stay as they are, beside the escapes.
    QTest::newRow("edges of UTF-8")
        << Sample{Finding::Kind::Order,
                  "\xdf\xbf\xe9\xed\x9f\xbf\xed\xa0\x80\xf4\x8f\xbf\xbf\xf4\x90", 1, "b", "a"}
        << QByteArray(
               "\xdf\xbf\\uDCE9\xed\x9f\xbf\\uDCED\\uDCA0\\uDC80\xf4\x8f\xbf\xbf\\uDCF4\\uDC90");
}

void TestFindingReport::jsonLinesParse() {
    QFETCH(Sample, sample);
    QFETCH(QByteArray, file);
    const QByteArray out = written(FindingReport::Format::Json, {sample, plain});
    const QList<QByteArray> lines = out.split('\n');
    QCOMPARE(lines.size(), 3); // two objects, then the final newline
    QVERIFY(lines.last().isEmpty());
    QJsonParseError error;
    const QJsonObject first = QJsonDocument::fromJson(lines[0], &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(nameBytes(first.value("file").toString()), sample.file);
    if (!file.isEmpty())
        QVERIFY2(lines[0].startsWith("{\"file\":\"" + file + "\","), lines[0].constData());
    QCOMPARE(first.value("line").toInteger(), sample.line);
    QCOMPARE(first.value("text").toString(), QString::fromUtf8(sample.text));
    QCOMPARE(first.value("next").toString(), QString::fromUtf8(sample.next));
    QCOMPARE(first.value("kind").toString(), sample.kind == Finding::Kind::Order
                                                 ? QStringLiteral("order")
                                                 : QStringLiteral("repeat"));
    QCOMPARE(QJsonDocument::fromJson(lines[1], &error).object().value("line").toInt(), 3);
    QCOMPARE(error.error, QJsonParseError::NoError);
}

void TestFindingReport::sarifLog_data() {
    QTest::addColumn<QList<Sample>>("samples");
    QTest::addColumn<QStringList>("uris");
    QTest::newRow("none") << QList<Sample>{} << QStringList{};
    QTest::newRow("one") << QList<Sample>{plain} << QStringList{"list.txt"};
    QTest::newRow("every kind, encoded paths")
        << QList<Sample>{{Finding::Kind::Order, "my list#9.txt", 2, "b\"", "a"},
                         {Finding::Kind::Repeat, "/srv/über/l.txt", 9, "x", "X"},
                         {Finding::Kind::Order, "-", 1, "b", "a"},
                         {Finding::Kind::Marker, "-", 4, "# varnel: end", "an end alone"}}
        << QStringList{"my%20list%239.txt", "file:///srv/%C3%BCber/l.txt", "-", "-"};
}

void TestFindingReport::sarifLog() {
    QFETCH(QList<Sample>, samples);
    QFETCH(QStringList, uris);
    QJsonParseError error;
    const QJsonObject log =
        QJsonDocument::fromJson(written(FindingReport::Format::Sarif, samples), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    // What the 2.1.0 schema requires of a log, a run, its tool and each result.
    QCOMPARE(log.value("version").toString(), QStringLiteral("2.1.0"));
    const QJsonArray runs = log.value("runs").toArray();
    QCOMPARE(runs.size(), 1);
    const QJsonObject run = runs.first().toObject();
    const QJsonObject driver = run.value("tool").toObject().value("driver").toObject();
    QCOMPARE(driver.value("name").toString(), QStringLiteral("varnel"));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+(\\.\\d+)+$"))
                .match(driver.value("version").toString())
                .hasMatch());
    const QJsonArray rules = driver.value("rules").toArray();
    QCOMPARE(rules.size(), 3);
    QVERIFY(run.value("results").isArray()); // present and empty when all is in order
    const QJsonArray results = run.value("results").toArray();
    QCOMPARE(results.size(), samples.size());
    for (qsizetype i = 0; i < results.size(); ++i) {
        const QJsonObject result = results[i].toObject();
        const Sample& sample = samples[i];
        const QString rule = sample.kind == Finding::Kind::Order    ? "order"
                             : sample.kind == Finding::Kind::Repeat ? "repeat"
                                                                    : "marker";
        QCOMPARE(result.value("ruleId").toString(), rule);
        QCOMPARE(rules[result.value("ruleIndex").toInt()].toObject().value("id").toString(), rule);
        QCOMPARE(result.value("level").toString(), QStringLiteral("error"));
        // The message reads as the default format's, without the place.
        const QByteArray gnu = written(FindingReport::Format::Gnu, {sample});
        QCOMPARE(result.value("message").toObject().value("text").toString().toUtf8(),
                 gnu.mid(gnu.indexOf(": ") + 2).chopped(1));
        const QJsonObject location = result.value("locations")
                                         .toArray()
                                         .first()
                                         .toObject()
                                         .value("physicalLocation")
                                         .toObject();
        QCOMPARE(location.value("artifactLocation").toObject().value("uri").toString(), uris[i]);
        QCOMPARE(location.value("region").toObject().value("startLine").toInteger(), sample.line);
    }
}

void TestFindingReport::placesInAWorkTree_data() {
    QTest::addColumn<QString>("git");     // the root's .git: a folder, a file (a linked work
                                          // tree, a submodule) or none
    QTest::addColumn<QByteArray>("file"); // as named from ROOT/sub/deeper
    QTest::addColumn<QByteArray>("path"); // from the root; empty: written as named
    QTest::newRow("below the root")
        << "folder" << QByteArray("../list.txt") << QByteArray("sub/list.txt");
    QTest::newRow("in the root") << "folder" << QByteArray("../../top.txt")
                                 << QByteArray("top.txt");
    QTest::newRow("absolute") << "folder" << QByteArray("ROOT/sub/list.txt")
                              << QByteArray("sub/list.txt");
    QTest::newRow("through a link")
        << "folder" << QByteArray("../link/list.txt") << QByteArray("sub/list.txt");
    QTest::newRow("linked work tree")
        << "file" << QByteArray("../list.txt") << QByteArray("sub/list.txt");
    QTest::newRow("no work tree") << "" << QByteArray("../list.txt") << QByteArray();
    QTest::newRow("standard input") << "folder" << QByteArray("-") << QByteArray();
}

void TestFindingReport::placesInAWorkTree() {
    QFETCH(QString, git);
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, path);
    const QTemporaryDir scratch;
    const QString root = QDir(scratch.path()).canonicalPath() + QStringLiteral("/repo");
    QVERIFY(QDir().mkpath(root + QStringLiteral("/sub/deeper")));
    QVERIFY(QFile::link(root + QStringLiteral("/sub"), root + QStringLiteral("/sub/link")));
    if (git == u"folder")
        QVERIFY(QDir().mkdir(root + QStringLiteral("/.git")));
    if (git == u"file") {
        QFile pointer(root + QStringLiteral("/.git"));
        QVERIFY(pointer.open(QIODevice::WriteOnly));
        pointer.write("gitdir: /elsewhere/.git/worktrees/repo\n");
    }
    file.replace("ROOT", QFile::encodeName(root));
    const QString wasCurrent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(root + QStringLiteral("/sub/deeper")));
    Sample sample = plain;
    sample.file = file;
    const QByteArray github = written(FindingReport::Format::GitHub, {sample});
    const QByteArray sarif = written(FindingReport::Format::Sarif, {sample});
    QDir::setCurrent(wasCurrent);

    const QByteArray named = path.isEmpty() ? file : path;
    QVERIFY2(github.startsWith("::error file=" + named + ",line=3::"), github.constData());
    const QJsonObject run =
        QJsonDocument::fromJson(sarif).object().value("runs").toArray().first().toObject();
    const QJsonObject artifact = run.value("results")
                                     .toArray()
                                     .first()
                                     .toObject()
                                     .value("locations")
                                     .toArray()
                                     .first()
                                     .toObject()
                                     .value("physicalLocation")
                                     .toObject()
                                     .value("artifactLocation")
                                     .toObject();
    QCOMPARE(artifact.value("uri").toString().toUtf8(), named);
    const QJsonObject bases = run.value("originalUriBaseIds").toObject();
    if (path.isEmpty()) {
        QVERIFY(!artifact.contains("uriBaseId"));
        QVERIFY(bases.isEmpty());
    } else {
        QCOMPARE(artifact.value("uriBaseId").toString(), QStringLiteral("%SRCROOT%"));
        QCOMPARE(bases.value("%SRCROOT%").toObject().value("uri").toString(),
                 QStringLiteral("file://") + root + u'/');
    }
}

QTEST_GUILESS_MAIN(TestFindingReport)
#include "tst_findingreport.moc"
