#pragma once

namespace varnel::cli {

// From here on, SIGINT, SIGTERM, SIGHUP and SIGPIPE first remove any temporary file a
// FileReplacement has named and not yet put in place, then end the program by that same
// signal, as they would have. A signal the program was started ignoring stays ignored.
void removeTemporariesOnSignals();

} // namespace varnel::cli
