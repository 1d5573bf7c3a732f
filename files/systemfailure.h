#pragma once

#include "core/failure.h"

namespace varnel {

// A failure in the system's own words (strerror), as command-line programs report them.
Failure systemFailure(int error);

} // namespace varnel
