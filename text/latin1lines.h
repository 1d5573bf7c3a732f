#pragma once

#include "linespan.h"
#include "utf8pieces.h"

#include <QtGlobal>

#include <vector>

namespace varnel {

// Decodes UTF-8 whose characters are all below U+0100 into one byte a character where it
// lies, and cuts the text into lines by the line rule (text/linebreaks.h) in the same pass:
// a large file is then read from memory once and needs no second buffer.
//
// The bytes arrive in order and are decoded as they come; each character is written at or
// before the byte it came from, so what is not yet decoded is never overwritten. It stops
// at the first sequence it cannot write that way (a wider character or no UTF-8 at all),
// and can then put the bytes back as they were read.
class Latin1LineCutter {
public:
    // Decodes the bytes of `data` from `from` on, written from `to` on (to <= from: past a
    // mark, or at the start of one share of a text cut by several threads).
    Latin1LineCutter(char* data, qsizetype from, qsizetype to, std::vector<LineSpan>& lines,
                     Utf8Way way = Utf8Way::Fastest);

    // The bytes up to `end` are there; `atEnd` when no more follow. False, and nothing more
    // taken, at a sequence that cannot be written as one byte, or one cut short by the end.
    bool take(qsizetype end, bool atEnd);

    // The bytes moved to `data`, at the same places.
    void moved(char* data) { m_data = data; }

    qsizetype read() const { return m_in; }
    qsizetype written() const { return m_out; }

    // Puts back the bytes decoded so far as they were in the file (between `to` and where
    // the reading stopped), from the characters written. `to` to `from` is the caller's.
    void restore();

private:
    bool takePlainly(qsizetype end, bool atEnd);
    bool takeVectors(qsizetype end);
    [[gnu::always_inline]] void lineBreakAt(qsizetype at) {
        if (m_data[at] == '\n' && m_lastCr == at - 1) {
            m_lineStart = at + 1; // the LF of a CR LF
            return;
        }
        m_lines.push_back({quint32(m_lineStart), quint32(at - m_lineStart)});
        m_lineStart = at + 1;
        if (m_data[at] == '\r')
            m_lastCr = at;
    }

    char* m_data;
    const qsizetype m_to;
    qsizetype m_in;
    qsizetype m_out;
    qsizetype m_lineStart;
    qsizetype m_lastCr = -2;
    std::vector<LineSpan>& m_lines;
    const bool m_vectors;
};

} // namespace varnel
