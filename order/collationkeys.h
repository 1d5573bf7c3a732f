#pragma once

#include "linetext.h"

#include <QByteArrayView>
#include <QCollator>
#include <QtGlobal>

#include <vector>

struct UCollator;

namespace varnel {

// The first twelve bytes of a line's ICU sort key, as two integers that compare as the bytes
// do. Two lines whose prefixes differ are in the order of their prefixes; equal prefixes tell
// nothing, and the lines are compared in full. Twelve bytes leave four of a sixteen-byte sort
// item for the line's index.
struct CollationPrefix {
    quint64 high = 0;
    quint32 low = 0;

    friend bool operator==(const CollationPrefix&, const CollationPrefix&) = default;
    friend auto operator<=>(const CollationPrefix& a, const CollationPrefix& b) {
        return a.high != b.high ? a.high <=> b.high : a.low <=> b.low;
    }
};

// Sort key prefixes from an ICU collator of the very settings a QCollator uses (the same
// locale, strength, numeric mode, punctuation and normalization), so that the order of
// prefixes never disagrees with QCollator::compare. Should no such collator open, every
// prefix is the same and every comparison a full one. One object a thread.
class CollationKeys {
public:
    explicit CollationKeys(const QCollator& like);
    ~CollationKeys();
    CollationKeys(const CollationKeys&) = delete;
    CollationKeys& operator=(const CollationKeys&) = delete;

    CollationPrefix prefixOf(LineText text);

    // Whether the collator opened; without it compareUtf8 cannot answer.
    bool collates() const { return m_collator != nullptr; }
    // QCollator::compare on the text two strings of valid UTF-8 hold, without decoding
    // them first.
    int compareUtf8(QByteArrayView a, QByteArrayView b) const;

private:
    UCollator* m_collator = nullptr;
    std::vector<char16_t> m_units; // a one-byte line widened
};

} // namespace varnel
