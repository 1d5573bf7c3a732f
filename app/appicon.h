#pragma once

#include <QIcon>

namespace varnel {

// The program's icon, drawn rather than shipped: two lines of text, one out of place.
QIcon applicationIcon();

} // namespace varnel
