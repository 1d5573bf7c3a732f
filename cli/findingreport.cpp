#include "findingreport.h"

#include "core/utf8leads.h"
#include "text/utf8check.h"

#include <QStringView>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/stat.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel::cli {

namespace {

// A line number, without the string QByteArray::number makes of it.
void appendNumber(qint64 number, QByteArray& out) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    out.append(digits, end - digits);
}

} // namespace

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

qint64 nextLineOf(const Finding& finding) {
    return finding.nextLine > 0 ? finding.nextLine : finding.line + 1;
}

// A file's place in the git work tree it is in: the tree's root, canonical, and the path
// from there.
struct TreePlace {
    QByteArray root;
    QByteArray path;
};

// Where `file` lies in a git work tree, found by walking up from its folder, made absolute
// and canonical, to the first that holds a `.git` (a folder, or a file in a linked work
// tree or a submodule). Empty for standard input and for a file in no work tree.
TreePlace workTreePlace(QByteArrayView file) {
    const qsizetype slash = file.lastIndexOf('/');
    const QByteArrayView base = file.sliced(slash + 1);
    if (file == "-" || base.isEmpty() || base == "." || base == "..")
        return {};
    const QByteArray folder = slash < 0    ? QByteArray(".")
                              : slash == 0 ? QByteArray("/")
                                           : file.first(slash).toByteArray();
    char* real = ::realpath(folder.constData(), nullptr);
    if (!real)
        return {};
    const QByteArray canonical(real);
    std::free(real);
    for (QByteArray at = canonical;;) {
        struct stat status;
        if (::stat((at.endsWith('/') ? at + ".git" : at + "/.git").constData(), &status) == 0 &&
            (S_ISDIR(status.st_mode) || S_ISREG(status.st_mode))) {
            QByteArray path = canonical.sliced(at.size());
            if (path.startsWith('/'))
                path.remove(0, 1);
            if (!path.isEmpty())
                path.append('/');
            return {at, path.append(base)};
        }
        if (at == "/")
            return {};
        at.truncate(std::max<qsizetype>(at.lastIndexOf('/'), 1));
    }
}

// The work-tree place of the file of the findings coming, worked out once a file: they come
// a file at a time.
class TreePlaces {
public:
    const TreePlace& of(QByteArrayView file) {
        if (!m_known || file != m_file) {
            m_file = file.toByteArray();
            m_place = workTreePlace(file);
            m_known = true;
        }
        return m_place;
    }

private:
    QByteArray m_file;
    TreePlace m_place;
    bool m_known = false;
};

class GnuReport : public FindingReport {
public:
    void add(const Finding& finding, QByteArray& out) override {
        out.append(finding.file).append(':');
        appendNumber(finding.line, out);
        out.append(": ");
        appendFindingMessage(finding, out);
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
        out.append(finding.kind == Finding::Kind::Marker ? ",\"message\":" : ",\"next\":");
        appendJsonString(finding.next, out);
        if (finding.nextLine > 0)
            out.append(",\"nextLine\":").append(QByteArray::number(finding.nextLine));
        out.append(",\"kind\":\"").append(findingKindName(finding.kind)).append("\"}\n");
    }
};

// A GitHub Actions workflow command. Its data escapes %, CR and LF; a property's value also
// the ':' and ',' that would end it.
class GitHubReport : public FindingReport {
public:
    void add(const Finding& finding, QByteArray& out) override {
        out.append("::error file=");
        // Annotations are placed relative to the repository's root.
        const TreePlace& place = m_places.of(finding.file);
        appendEscaped(place.root.isEmpty() ? finding.file : QByteArrayView(place.path), out, true);
        out.append(",line=").append(QByteArray::number(finding.line)).append("::");
        m_message.clear();
        appendFindingMessage(finding, m_message);
        appendEscaped(m_message, out, false);
        out.append('\n');
    }

private:
    static void appendEscaped(QByteArrayView text, QByteArray& out, bool property) {
        qsizetype plain = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '%' || c == '\r' || c == '\n' || (property && (c == ':' || c == ','))) {
                out.append(text.sliced(plain, i - plain));
                out.append('%').append(HexDigits[uchar(c) >> 4]).append(HexDigits[uchar(c) & 15]);
                plain = i + 1;
            }
        }
        out.append(text.sliced(plain));
    }
    QByteArray m_message;
    TreePlaces m_places;
};

// A SARIF 2.1.0 log with one run; its results are written as they come, the frame around
// them by begin() and end().
class SarifReport : public FindingReport {
public:
    void begin(QByteArray& out) override {
        out.append("{\"version\":\"2.1.0\","
                   "\"$schema\":\"https://json.schemastore.org/sarif-2.1.0.json\","
                   "\"runs\":[{\"tool\":{\"driver\":{\"name\":\"varnel\","
                   "\"version\":\"" VARNEL_VERSION "\","
                   "\"informationUri\":\"https://varnel.app\","
                   "\"rules\":["
                   "{\"id\":\"order\",\"shortDescription\":{\"text\":"
                   "\"A line sorts after the line below it\"}},"
                   "{\"id\":\"repeat\",\"shortDescription\":{\"text\":"
                   "\"A line equals the line below it\"}},"
                   "{\"id\":\"marker\",\"shortDescription\":{\"text\":"
                   "\"A sorted block's marker cannot be followed\"}}]}},"
                   "\"results\":[");
    }
    void add(const Finding& finding, QByteArray& out) override {
        if (m_results++ > 0)
            out.append(',');
        out.append("{\"ruleId\":\"").append(findingKindName(finding.kind));
        out.append("\",\"ruleIndex\":").append(QByteArray::number(int(finding.kind)));
        out.append(",\"level\":\"error\",\"message\":{\"text\":");
        m_message.clear();
        appendFindingMessage(finding, m_message);
        appendJsonString(m_message, out);
        out.append("},\"locations\":[{\"physicalLocation\":{\"artifactLocation\":{\"uri\":\"");
        // In a work tree, relative to its root, which the run names: code scanning places
        // the finding wherever the tool ran.
        const TreePlace& place = m_places.of(finding.file);
        if (place.root.isEmpty()) {
            appendUri(finding.file, out);
            out.append('"');
        } else {
            appendUri(place.path, out);
            out.append("\",\"uriBaseId\":\"").append(baseId(place.root)).append('"');
        }
        out.append("},\"region\":{\"startLine\":").append(QByteArray::number(finding.line));
        out.append("}}}]}");
    }
    void end(QByteArray& out) override {
        out.append(']');
        if (!m_roots.empty()) {
            out.append(",\"originalUriBaseIds\":{");
            for (size_t k = 0; k < m_roots.size(); ++k) {
                out.append(k > 0 ? ",\"" : "\"").append(baseId(k)).append("\":{\"uri\":\"");
                appendUri(m_roots[k].endsWith('/') ? m_roots[k] : m_roots[k] + '/', out);
                out.append("\"}");
            }
            out.append('}');
        }
        out.append("}]}\n");
    }
    void forget(qint64 count) override { m_results -= count; }

private:
    // %SRCROOT% for the first work tree, which is the usual one; %SRCROOT2% and so on for
    // any other.
    static QByteArray baseId(size_t index) {
        return index == 0 ? QByteArray("%SRCROOT%")
                          : "%SRCROOT" + QByteArray::number(qulonglong(index + 1)) + '%';
    }
    QByteArray baseId(const QByteArray& root) {
        auto at = std::find(m_roots.begin(), m_roots.end(), root);
        if (at == m_roots.end())
            at = m_roots.insert(at, root);
        return baseId(size_t(at - m_roots.begin()));
    }

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
    TreePlaces m_places;
    std::vector<QByteArray> m_roots; // of the work trees named, in the order first met
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

namespace {

// Where the first byte from `i` on is that may need an escape: a control, DEL, a quote, a
// backslash, or the lead of the pair that U+0080 to U+009F take. Sixteen at a time: nearly
// every line has none, and a check may report millions.
qsizetype mayNeedEscape(QByteArrayView utf8, qsizetype i) {
    const auto special = [](unsigned char c) {
        return c < 0x20 || c == 0x7F || c == '"' || c == '\\' || c == 0xC2;
    };
#if defined(__SSE2__)
    const char* const p = utf8.data();
    for (; i + 16 <= utf8.size(); i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i controls = _mm_set1_epi8(0x1F);
        const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(v, controls), controls);
        const __m128i marks =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)),
                                      _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))),
                         _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\\')),
                                      _mm_cmpeq_epi8(v, _mm_set1_epi8(char(0xC2)))));
        const unsigned hits = unsigned(_mm_movemask_epi8(_mm_or_si128(control, marks)));
        if (hits != 0)
            return i + std::countr_zero(hits);
    }
#endif
    while (i < utf8.size() && !special(static_cast<unsigned char>(utf8[i])))
        ++i;
    return i;
}

} // namespace

void appendCEscaped(QByteArrayView utf8, QByteArray& out) {
    static constexpr char named[] = "\"\\\a\b\t\n\v\f\r";
    static constexpr char letters[] = "\"\\abtnvfr";
    // Three octal digits always: a digit that follows cannot join the escape.
    const auto octal = [&out](unsigned char c) {
        out.append('\\').append(char('0' + (c >> 6))).append(char('0' + ((c >> 3) & 7)));
        out.append(char('0' + (c & 7)));
    };
    // Text between escapes goes in one piece: a line may be hundreds of megabytes.
    qsizetype plain = 0;
    for (qsizetype i = mayNeedEscape(utf8, 0); i < utf8.size(); i = mayNeedEscape(utf8, i + 1)) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const bool second =
            c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0;
        if (c >= 0x20 && c != 0x7F && c != '"' && c != '\\' && !second)
            continue;
        out.append(utf8.sliced(plain, i - plain));
        if (const char* at = c ? std::strchr(named, c) : nullptr) {
            out.append('\\').append(letters[at - named]);
        } else if (!second) {
            octal(c);
        } else {
            // U+0080 to U+009F, the second set of controls, as their two bytes: C allows no
            // \u escape below U+00A0.
            octal(c);
            octal(static_cast<unsigned char>(utf8[++i]));
        }
        plain = i + 1;
    }
    out.append(utf8.sliced(plain));
}

namespace {

// The length of the UTF-8 sequence that starts at `i`, strict as the decoder is (no
// overlong form, no surrogate, nothing above U+10FFFF); 0 when none starts there whole.
qsizetype utf8SequenceAt(QByteArrayView bytes, qsizetype i) {
    const Utf8Lead lead = Utf8Leads[uchar(bytes[i])];
    if (lead.length == 0 || i + lead.length > bytes.size())
        return 0;
    for (qsizetype k = 1; k < lead.length; ++k) {
        const auto c = uchar(bytes[i + k]);
        if (c < (k == 1 ? lead.low : 0x80) || c > (k == 1 ? lead.high : 0xBF))
            return 0;
    }
    return lead.length;
}

} // namespace

void appendJsonString(QByteArrayView bytes, QByteArray& out) {
    out.append('"');
    // The texts are UTF-8; a file name need not be, and its bytes that are not are written
    // one escape a byte, as the lone surrogates U+DC80 to U+DCFF (the byte plus 0xDC00),
    // which no UTF-8 text can hold: reversible, as Python's "surrogateescape" reads them.
    Utf8Check check;
    const bool valid = check.feed(bytes) && check.complete();
    qsizetype plain = 0;
    for (qsizetype i = 0; i < bytes.size();) {
        const auto b = uchar(bytes[i]);
        if (b >= 0x20 && b != '"' && b != '\\') {
            const qsizetype length = b < 0x80 || valid ? 1 : utf8SequenceAt(bytes, i);
            if (length > 0) {
                i += length;
                continue;
            }
        }
        out.append(bytes.sliced(plain, i - plain));
        switch (b) {
        case '"':
        case '\\':
            out.append('\\').append(char(b));
            break;
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
            out.append(b < 0x80 ? "\\u00" : "\\uDC")
                .append(HexDigits[b >> 4])
                .append(HexDigits[b & 15]);
        }
        plain = ++i;
    }
    out.append(bytes.sliced(plain));
    out.append('"');
}

QByteArrayView findingKindName(Finding::Kind kind) {
    switch (kind) {
    case Finding::Kind::Order:
        break;
    case Finding::Kind::Repeat:
        return "repeat";
    case Finding::Kind::Marker:
        return "marker";
    }
    return "order";
}

void appendFindingMessage(const Finding& finding, QByteArray& out) {
    if (finding.kind == Finding::Kind::Marker) {
        out.append(finding.next);
        return;
    }
    out.append('"');
    appendCEscaped(finding.text, out);
    if (finding.kind == Finding::Kind::Order) {
        out.append("\" sorts after \"");
        appendCEscaped(finding.next, out);
        out.append("\" on line ");
    } else {
        out.append("\" repeats on line ");
    }
    appendNumber(nextLineOf(finding), out);
}

} // namespace varnel::cli
