#pragma once

namespace varnel {

// Lets screen readers read a LineListView as a list of one column: the accessibility
// Qt gives its own tables and lists stops at views of its own classes. Once is enough;
// later calls do nothing.
void installLineListAccess();

} // namespace varnel
