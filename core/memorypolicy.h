#pragma once

namespace varnel {

// Big, short-lived buffers (a file's bytes while it is decoded, a list's index while it is
// sorted) go back to the system the moment they are freed. Left to itself the C library
// raises its threshold after the first large free and keeps later buffers in the heap for
// good, so a million-line list would cost its memory twice over.
void returnLargeBuffersToTheSystem();

} // namespace varnel
