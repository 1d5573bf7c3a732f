#pragma once

#include "linetext.h"

namespace varnel {

// The pair test's order with numbers read as numbers: a run of ASCII digits compares with
// another by its value ("item9" before "item10"), and of two equal values the one written
// with fewer leading zeros comes first ("7" before "07"). Everything else compares as
// compareLowered compares it, character by character; a digit against any other character
// compares as the digit does there.
int compareLoweredNumeric(LineText first, LineText second);

} // namespace varnel
