#pragma once

#include "order/linetext.h"

#include <QByteArrayView>
#include <QStringView>

namespace varnel::cli {

// Whether every byte is ASCII.
bool isAscii(QByteArrayView bytes);
// Whether Windows-1252 bytes read the same as Latin-1: none of them is 0x80 to 0x9F.
bool readsAsLatin1(QByteArrayView windows1252);
// Text as UTF-8 at `out`, at most three bytes a unit, a unit that is half of no pair as '?'
// (as QString::toUtf8 writes it); returns the end.
char* encodeUtf8(LineText text, char* out);
// Units as UTF-16 bytes of either order at `out`; returns the end.
char* encodeUtf16(QStringView units, bool bigEndian, char* out);

} // namespace varnel::cli
