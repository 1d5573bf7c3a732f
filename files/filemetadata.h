#pragma once

#include <sys/stat.h>

namespace varnel {

// Gives the new file at `to` what the file at `from` (described by `old`) has: its owner and
// group, its permissions, its extended attributes and its POSIX ACL. False when the system
// refuses any of it (another user's file, a group the user is not in, an attribute only the
// superuser may set): the new file would then not be the file it replaces.
bool takeOverMetadata(int from, const struct ::stat& old, int to);

} // namespace varnel
