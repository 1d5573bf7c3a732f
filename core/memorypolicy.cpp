#include "memorypolicy.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace varnel {

void returnLargeBuffersToTheSystem() {
#if defined(M_MMAP_THRESHOLD)
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

} // namespace varnel
