#include "systemfailure.h"

#include <cstring>

namespace varnel {

Failure systemFailure(int error) {
    return {failures::fromErrno(error).number(), QString::fromLocal8Bit(std::strerror(error))};
}

} // namespace varnel
