#pragma once

#include <QtGlobal>

namespace varnel {

// One line inside a larger text: where it starts and how long it is, in characters of its
// form (bytes of a one-byte text, UTF-16 units of a wide one).
struct LineSpan {
    quint32 offset;
    quint32 length;
};

// The same while a text is being cut, at any offset.
struct LineRange {
    qsizetype from = 0;
    qsizetype length = 0;
};

} // namespace varnel
