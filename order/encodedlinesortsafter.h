#pragma once

#include <QByteArrayView>

#include <array>

namespace varnel {

// The pair test on lines still in their file's bytes, for checking files far larger than
// memory without decoding every line: each gives exactly what lineSortsAfter gives for the
// decoded lines.

// `upper` and `lower` must be valid UTF-8.
bool utf8LineSortsAfter(QByteArrayView upper, QByteArrayView lower);

// For an encoding of one character a byte: `lowered[b]` is byte b's character, lower-cased,
// as one UTF-16 unit.
using LoweredBytes = std::array<char16_t, 256>;
bool singleByteLineSortsAfter(QByteArrayView upper, QByteArrayView lower,
                              const LoweredBytes& lowered);

} // namespace varnel
