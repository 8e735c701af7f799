// Everything under a folder, as it stands: for telling what a run of the
// program created, changed or removed.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace dravik::test {

// Path under the root (no leading "/") -> what lstat and the bytes say of
// it: type, mode, size and contents for a file, the target for a link.
// Links are not followed.
using TreeSnapshot = std::map<std::string, std::string>;
TreeSnapshot SnapshotTree(const std::string& root);

// The paths that differ between two snapshots (created, changed or removed),
// leaving out those under any of the given folders (relative, ending in "/").
std::vector<std::string> ChangedPaths(const TreeSnapshot& before, const TreeSnapshot& after,
                                      const std::vector<std::string>& except = {});

}  // namespace dravik::test
