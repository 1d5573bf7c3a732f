#include "findingreport.h"

#include <QStringView>

#include <algorithm>
#include <cstring>

namespace varnel::cli {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

QByteArrayView kindName(Finding::Kind kind) {
    return kind == Finding::Kind::Order ? "order" : "repeat";
}

// What the finding says, texts quoted and escaped: `"TEXT" sorts after "NEXT" on line N`.
void appendMessage(const Finding& finding, QByteArray& out) {
    out.append('"');
    appendCEscaped(finding.text, out);
    if (finding.kind == Finding::Kind::Order) {
        out.append("\" sorts after \"");
        appendCEscaped(finding.next, out);
        out.append("\" on line ");
    } else {
        out.append("\" repeats on line ");
    }
    out.append(QByteArray::number(finding.line + 1));
}

class GnuReport : public FindingReport {
public:
    void add(const Finding& finding, QByteArray& out) override {
        out.append(finding.file).append(':').append(QByteArray::number(finding.line));
        out.append(": ");
        appendMessage(finding, out);
        out.append('\n');
    }
};

// The lines alone, as the window lists them.
class LinesReport : public FindingReport {
public:
    void add(const Finding& finding, QByteArray& out) override {
        out.append(finding.text).append('\n');
    }
};

// JSON Lines: one object a finding.
class JsonReport : public FindingReport {
public:
    void add(const Finding& finding, QByteArray& out) override {
        out.append("{\"file\":");
        appendJsonString(finding.file, out);
        out.append(",\"line\":").append(QByteArray::number(finding.line));
        out.append(",\"text\":");
        appendJsonString(finding.text, out);
        out.append(",\"next\":");
        appendJsonString(finding.next, out);
        out.append(",\"kind\":\"").append(kindName(finding.kind)).append("\"}\n");
    }
};

// A GitHub Actions workflow command. Its data escapes %, CR and LF; a property's value also
// the ':' and ',' that would end it.
class GitHubReport : public FindingReport {
public:
    void add(const Finding& finding, QByteArray& out) override {
        out.append("::error file=");
        appendEscaped(finding.file, out, true);
        out.append(",line=").append(QByteArray::number(finding.line)).append("::");
        m_message.clear();
        appendMessage(finding, m_message);
        appendEscaped(m_message, out, false);
        out.append('\n');
    }

private:
    static void appendEscaped(QByteArrayView text, QByteArray& out, bool property) {
        for (const char c : text) {
            if (c == '%' || c == '\r' || c == '\n' || (property && (c == ':' || c == ','))) {
                out.append('%').append(HexDigits[uchar(c) >> 4]).append(HexDigits[uchar(c) & 15]);
            } else {
                out.append(c);
            }
        }
    }
    QByteArray m_message;
};

// A SARIF 2.1.0 log with one run; its results are written as they come, the frame around
// them by begin() and end().
class SarifReport : public FindingReport {
public:
    void begin(QByteArray& out) override {
        out.append("{\"version\":\"2.1.0\","
                   "\"$schema\":\"https://json.schemastore.org/sarif-2.1.0.json\","
                   "\"runs\":[{\"tool\":{\"driver\":{\"name\":\"varnel\","
                   "\"informationUri\":\"https://varnel.app\","
                   "\"rules\":["
                   "{\"id\":\"order\",\"shortDescription\":{\"text\":"
                   "\"A line sorts after the line below it\"}},"
                   "{\"id\":\"repeat\",\"shortDescription\":{\"text\":"
                   "\"A line equals the line below it\"}}]}},"
                   "\"results\":[");
    }
    void add(const Finding& finding, QByteArray& out) override {
        if (m_results++ > 0)
            out.append(',');
        out.append("{\"ruleId\":\"").append(kindName(finding.kind));
        out.append("\",\"ruleIndex\":").append(finding.kind == Finding::Kind::Order ? "0" : "1");
        out.append(",\"level\":\"error\",\"message\":{\"text\":");
        m_message.clear();
        appendMessage(finding, m_message);
        appendJsonString(m_message, out);
        out.append("},\"locations\":[{\"physicalLocation\":{\"artifactLocation\":{\"uri\":\"");
        appendUri(finding.file, out);
        out.append("\"},\"region\":{\"startLine\":").append(QByteArray::number(finding.line));
        out.append("}}}]}");
    }
    void end(QByteArray& out) override { out.append("]}]}\n"); }
    void forget(qint64 count) override { m_results -= count; }

private:
    // A path as a URI reference: relative stays relative, absolute becomes a file URI; every
    // byte but the unreserved ones and '/' percent-encoded.
    static void appendUri(QByteArrayView path, QByteArray& out) {
        if (path.startsWith('/'))
            out.append("file://");
        for (const char c : path) {
            const auto b = uchar(c);
            const bool plain = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') ||
                               (b >= '0' && b <= '9') || std::strchr("-._~/", c) != nullptr;
            if (plain && b != 0)
                out.append(c);
            else
                out.append('%').append(HexDigits[b >> 4]).append(HexDigits[b & 15]);
        }
    }
    qint64 m_results = 0;
    QByteArray m_message;
};

} // namespace

std::optional<FindingReport::Format> FindingReport::formatNamed(QStringView word) {
    static constexpr std::pair<const char16_t*, Format> names[] = {
        {u"gnu", Format::Gnu},       {u"lines", Format::Lines}, {u"json", Format::Json},
        {u"github", Format::GitHub}, {u"sarif", Format::Sarif},
    };
    for (const auto& [name, format] : names)
        if (word == QStringView(name))
            return format;
    return std::nullopt;
}

std::unique_ptr<FindingReport> FindingReport::create(Format format) {
    switch (format) {
    case Format::Gnu:
        return std::make_unique<GnuReport>();
    case Format::Lines:
        return std::make_unique<LinesReport>();
    case Format::Json:
        return std::make_unique<JsonReport>();
    case Format::GitHub:
        return std::make_unique<GitHubReport>();
    case Format::Sarif:
        return std::make_unique<SarifReport>();
    }
    return nullptr;
}

void appendCEscaped(QByteArrayView utf8, QByteArray& out) {
    static constexpr char named[] = "\"\\\a\b\t\n\v\f\r";
    static constexpr char letters[] = "\"\\abtnvfr";
    // Three octal digits always: a digit that follows cannot join the escape.
    const auto octal = [&out](unsigned char c) {
        out.append('\\').append(char('0' + (c >> 6))).append(char('0' + ((c >> 3) & 7)));
        out.append(char('0' + (c & 7)));
    };
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (const char* at = c ? std::strchr(named, c) : nullptr) {
            out.append('\\').append(letters[at - named]);
        } else if (c < 0x20 || c == 0x7F) {
            octal(c);
        } else if (c == 0xC2 && i + 1 < utf8.size() &&
                   static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
            // U+0080 to U+009F, the second set of controls, as their two bytes: C allows no
            // \u escape below U+00A0.
            octal(c);
            octal(static_cast<unsigned char>(utf8[++i]));
        } else {
            out.append(char(c));
        }
    }
}

void appendJsonString(QByteArrayView bytes, QByteArray& out) {
    out.append('"');
    // A file name need not be UTF-8: through UTF-16 and back, where it may not be, gives
    // U+FFFD for what is not.
    QByteArray valid;
    if (std::any_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) >= 0x80; })) {
        valid = QString::fromUtf8(bytes).toUtf8();
        bytes = valid;
    }
    for (const char c : bytes) {
        const auto b = uchar(c);
        if (b == '"' || b == '\\') {
            out.append('\\').append(c);
        } else if (b < 0x20) {
            switch (b) {
            case '\n':
                out.append("\\n");
                break;
            case '\r':
                out.append("\\r");
                break;
            case '\t':
                out.append("\\t");
                break;
            default:
                out.append("\\u00").append(HexDigits[b >> 4]).append(HexDigits[b & 15]);
            }
        } else {
            out.append(c);
        }
    }
    out.append('"');
}

} // namespace varnel::cli
