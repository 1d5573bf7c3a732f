#include "cli/findingreport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

} // namespace

Q_DECLARE_METATYPE(Sample)

class TestFindingReport : public QObject {
    Q_OBJECT
private slots:
    void formatNames_data();
    void formatNames();
    void textFormats_data();
    void textFormats();
    void jsonLinesParse_data();
    void jsonLinesParse();
    void sarifLog_data();
    void sarifLog();
};

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
    QTest::addColumn<QString>("file"); // as read back
    QTest::newRow("plain") << plain << "list.txt";
    QTest::newRow("quotes, controls, accents")
        << Sample{Finding::Kind::Repeat, "d\"ir/\\f", 12, "\"é\"\n\x1f\t", "tab\there"}
        << "d\"ir/\\f";
    QTest::newRow("file name that is no UTF-8")
        << Sample{Finding::Kind::Order, "caf\xe9.txt", 1, "b", "a"}
        << QString::fromUtf8("caf\uFFFD.txt");
}

void TestFindingReport::jsonLinesParse() {
    QFETCH(Sample, sample);
    QFETCH(QString, file);
    const QByteArray out = written(FindingReport::Format::Json, {sample, plain});
    const QList<QByteArray> lines = out.split('\n');
    QCOMPARE(lines.size(), 3); // two objects, then the final newline
    QVERIFY(lines.last().isEmpty());
    QJsonParseError error;
    const QJsonObject first = QJsonDocument::fromJson(lines[0], &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(first.value("file").toString(), file);
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
    QTest::newRow("both kinds, encoded paths")
        << QList<Sample>{{Finding::Kind::Order, "my list#9.txt", 2, "b\"", "a"},
                         {Finding::Kind::Repeat, "/srv/über/l.txt", 9, "x", "X"},
                         {Finding::Kind::Order, "-", 1, "b", "a"}}
        << QStringList{"my%20list%239.txt", "file:///srv/%C3%BCber/l.txt", "-"};
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
    const QJsonArray rules = driver.value("rules").toArray();
    QCOMPARE(rules.size(), 2);
    QVERIFY(run.value("results").isArray()); // present and empty when all is in order
    const QJsonArray results = run.value("results").toArray();
    QCOMPARE(results.size(), samples.size());
    for (qsizetype i = 0; i < results.size(); ++i) {
        const QJsonObject result = results[i].toObject();
        const Sample& sample = samples[i];
        const QString rule = sample.kind == Finding::Kind::Order ? "order" : "repeat";
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

QTEST_GUILESS_MAIN(TestFindingReport)
#include "tst_findingreport.moc"
