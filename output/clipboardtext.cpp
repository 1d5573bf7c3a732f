#include "clipboardtext.h"

#include <QList>
#include <QStringEncoder>

#include <algorithm>
#include <utility>

namespace varnel {

namespace {

// The text as it is made: UTF-8 bytes until a cell cannot be told in them, the text itself
// from then on, what came before carried over unchanged.
class TextBuilder {
public:
    void append(const QString& cell) {
        // A reader of UTF-8 takes a U+FEFF at the start of the bytes for their mark, and drops
        // it: the text would come back without it.
        const bool markFirst = m_out.utf8.isEmpty() && cell.startsWith(QChar(0xFEFF));
        if (m_out.isUtf8 && (markFirst || !cell.isValidUtf16())) {
            m_out.text = QString::fromUtf8(std::exchange(m_out.utf8, QByteArray()));
            m_out.isUtf8 = false;
        }
        if (!m_out.isUtf8) {
            m_out.text += cell;
            return;
        }
        // Encoded straight into the text's end: no bytes of each cell of their own.
        const qsizetype before = m_out.utf8.size();
        m_out.utf8.resize(before + m_encoder.requiredSpace(cell.size()));
        char* const end = m_encoder.appendToBuffer(m_out.utf8.data() + before, cell);
        m_out.utf8.truncate(end - m_out.utf8.constData());
    }
    void appendBlanks(qsizetype count) {
        if (m_out.isUtf8)
            m_out.utf8.append(count, ' ');
        else
            m_out.text.append(QString(count, u' '));
    }
    void appendUnit(char unit) {
        if (m_out.isUtf8)
            m_out.utf8.append(unit);
        else
            m_out.text.append(QLatin1Char(unit));
    }
    void chop() { m_out.isUtf8 ? m_out.utf8.chop(1) : m_out.text.chop(1); }
    void dropEndBlanks() {
        if (m_out.isUtf8)
            m_out.utf8.truncate(endWithoutBlanks(m_out.utf8));
        else
            m_out.text.truncate(endWithoutBlanks(m_out.text));
    }
    ClipboardText take() { return std::move(m_out); }

private:
    template <typename Text> static qsizetype endWithoutBlanks(const Text& text) {
        qsizetype end = text.size();
        while (end > 0 && text.at(end - 1) == u' ')
            --end;
        return end;
    }

    ClipboardText m_out;
    QStringEncoder m_encoder{QStringEncoder::Utf8};
};

} // namespace

ClipboardText clipboardText(qsizetype items, qsizetype columns, const TableCell& cell,
                            const std::function<void()>& yield) {
    // Padding after the last column would only join the blanks dropped at the end of its
    // line, so only the columns before it are measured: a list of one column is read once.
    QList<qsizetype> widths(columns, 0);
    for (qsizetype k = 1; k < columns; ++k) {
        for (qsizetype j = 1; j <= items; ++j) {
            yield();
            widths[k - 1] = std::max(widths[k - 1], cell(j, k).size());
        }
    }

    TextBuilder text;
    for (qsizetype i = 1; i <= items; ++i) {
        yield();
        for (qsizetype k = 1; k <= columns; ++k) {
            yield();
            const QString shown = cell(i, k);
            text.append(shown);
            // A cell that grew since it was measured goes in as it is.
            if (widths[k - 1] > shown.size())
                text.appendBlanks(widths[k - 1] - shown.size());
            text.appendUnit('\t');
        }
        // Only the tab this line put there goes: with no columns there is none, and the
        // break of the line before must stay.
        if (columns > 0)
            text.chop();
        text.dropEndBlanks();
        text.appendUnit('\r');
        text.appendUnit('\n');
    }
    return text.take();
}

} // namespace varnel
