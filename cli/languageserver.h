#pragma once

// `varnel lsp`: a language server for editors, on the descriptors given (standard input and
// output), until the client says exit. Returns the exit status: 0 after a shutdown, 1 when
// the client ended without one.

namespace varnel::cli {

int runLanguageServer(int in, int out);

} // namespace varnel::cli
