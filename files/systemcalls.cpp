#include "systemcalls.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace varnel {

SystemCalls& systemCalls() {
    static SystemCalls calls{::write, ::fdatasync, ::fsync, ::linkat, ::renameat, ::close};
    return calls;
}

} // namespace varnel
