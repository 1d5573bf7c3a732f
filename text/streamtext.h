#pragma once

#include "order/encodedlinesortsafter.h"

#include <QByteArray>
#include <QByteArrayView>

namespace varnel {

// Valid UTF-8 as UTF-16 at `out`, which has room for as many units as there are bytes;
// returns the end of what it wrote. A plain decoder of its own is several times faster than
// a general one called once a line.
char16_t* decodeValidUtf8(QByteArrayView bytes, char16_t* out);

// Windows-1252 as the window decodes it, a byte to a unit.
char16_t windows1252Unit(unsigned char byte);
// Each Windows-1252 byte as its character lower-cased.
const LoweredBytes& loweredWindows1252();
void appendWindows1252AsUtf8(QByteArrayView bytes, QByteArray& out);

} // namespace varnel
