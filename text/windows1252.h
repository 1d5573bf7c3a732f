#pragma once

#include "order/encodedlinesortsafter.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace varnel {

// Windows-1252, a byte to a unit; its five unassigned bytes stand for the C1 controls of the
// same value.
char16_t windows1252Unit(unsigned char byte);
QString decodeWindows1252(QByteArrayView bytes);
void appendWindows1252AsUtf8(QByteArrayView bytes, QByteArray& out);
// Each Windows-1252 byte as its character lower-cased.
const LoweredBytes& loweredWindows1252();

} // namespace varnel
