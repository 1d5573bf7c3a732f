#include "memorypolicy.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace varnel {

void returnLargeBuffersToTheSystem()
{
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

} // namespace varnel
