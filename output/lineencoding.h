#pragma once

// The encoders of written lines: the saved text file's, and the sort's output in its inputs'
// encoding.

#include "order/linetext.h"

#include <QByteArrayView>
#include <QLatin1StringView>
#include <QStringView>

namespace varnel {

// Windows-1252 bytes from 0x80 to 0x9F are letters and signs where Latin-1 has control
// characters; without them, both read the same.
bool readsAsLatin1(QByteArrayView windows1252);
// Latin-1 as UTF-8 at `out`, at most two bytes a character; returns the end.
char* encodeLatin1AsUtf8(QLatin1StringView text, char* out);
// Text as UTF-8 at `out`, at most three bytes a unit, a unit that is half of no pair as '?'
// (as QString::toUtf8 writes it); returns the end.
char* encodeUtf8(LineText text, char* out);
// Units as UTF-16 bytes of either order at `out`; returns the end.
char* encodeUtf16(QStringView units, bool bigEndian, char* out);

} // namespace varnel
