#pragma once

#include "findingreport.h"

#include "text/sortedblocks.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

// An editor's document as the language server judges it: its lines by the line rule, its
// sorted blocks, what the check finds in them and what the sort would change, with
// positions counted as the editor counts them.

namespace varnel::cli {

// How the characters of a position are counted: UTF-16 units, the protocol's default, or
// the UTF-8 bytes a client may ask for.
enum class PositionEncoding { Utf16, Utf8 };

struct TextPosition {
    qsizetype line = 0;
    qsizetype character = 0;
};

class DocumentText {
public:
    explicit DocumentText(QString text);
    DocumentText(const DocumentText&) = delete;
    DocumentText& operator=(const DocumentText&) = delete;

    const BlockLines& lines() const { return m_lines; }
    const SortedBlocks& blocks() const { return m_blocks; }
    // The line's break as the document has it, empty for a last line without one.
    QStringView breakOf(qsizetype line) const;
    // Where the line's text ends.
    TextPosition lineEnd(qsizetype line, PositionEncoding encoding) const;
    // Where the lines from `line` on start: the end of the document past its last.
    TextPosition lineStart(qsizetype line, PositionEncoding encoding) const;

private:
    QString m_text;
    BlockLines m_lines;
    std::vector<quint8> m_breakLengths;
    SortedBlocks m_blocks;
};

// One finding, on the line it names.
struct LineDiagnostic {
    qsizetype line = 0;
    TextPosition end; // the end of the line's text
    Finding::Kind kind = Finding::Kind::Order;
    QString message; // as `varnel check` words it
};

// What the check finds in the document's blocks, in the order the editor's own check
// uses; nothing when `superseded` says, part way, that a newer text has come.
std::optional<QList<LineDiagnostic>> diagnosticsOf(const DocumentText& document,
                                                   PositionEncoding encoding,
                                                   const std::function<bool()>& superseded);

struct TextReplacement {
    TextPosition start;
    TextPosition end;
    QString text;
};

// The edits that sort `blocks` (the document's, or some of them) as `varnel sort --blocks`
// does: one for each stretch of lines that changes, in the document's order.
QList<TextReplacement> sortEdits(const DocumentText& document, const SortedBlocks& blocks,
                                 PositionEncoding encoding);

// The block that holds the line, if any.
const SortedBlock* blockHolding(const SortedBlocks& blocks, qsizetype line);

} // namespace varnel::cli
