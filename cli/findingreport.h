#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <optional>

namespace varnel::cli {

// One thing `varnel check` found: the line `line` of `file` and the line below it; in a
// sorted block, an item and the next item of its group. A marker finding is a marker line
// that cannot be followed, and says why in `next`.
struct Finding {
    enum class Kind { Order, Repeat, Marker };
    Kind kind = Kind::Order;
    QByteArrayView file; // as the user named it, "-" for standard input
    qint64 line = 0;     // the upper line's number, from 1
    QByteArrayView text; // the upper line, UTF-8
    QByteArrayView next; // the line below it, UTF-8
    qint64 nextLine = 0; // the next line's number, where it is not line + 1
};

// How findings are written. Each writes a finding as soon as it is found, so memory does
// not grow with their number; a format that frames them (SARIF) opens the frame in begin()
// and closes it in end(), which are called once per run, however many files it reads.
class FindingReport {
public:
    enum class Format { Gnu, Lines, Json, GitHub, Sarif };
    // The format a --format word names, if any.
    static std::optional<Format> formatNamed(QStringView word);
    static std::unique_ptr<FindingReport> create(Format format);

    virtual ~FindingReport() = default;
    virtual void begin(QByteArray& out) { Q_UNUSED(out); }
    virtual void add(const Finding& finding, QByteArray& out) = 0;
    virtual void end(QByteArray& out) { Q_UNUSED(out); }
    // The last `count` findings added were taken back, never written.
    virtual void forget(qint64 count) { Q_UNUSED(count); }
};

// The finding's kind as the reports name it: "order", "repeat" or "marker".
QByteArrayView findingKindName(Finding::Kind kind);

// What the finding says, texts quoted and escaped: `"TEXT" sorts after "NEXT" on line N`.
// Every report and the editors' diagnostics word a finding by it.
void appendFindingMessage(const Finding& finding, QByteArray& out);

// `utf8` with quotes, backslashes and control characters escaped as in a C string.
void appendCEscaped(QByteArrayView utf8, QByteArray& out);

// `bytes` as a JSON string, quotes included. A byte that is no part of UTF-8 (in a file
// name) becomes the escape of U+DC00 plus the byte, \uDC80 to \uDCFF, which reads back as
// that byte (Python's os.fsencode after json.loads).
void appendJsonString(QByteArrayView bytes, QByteArray& out);

} // namespace varnel::cli
