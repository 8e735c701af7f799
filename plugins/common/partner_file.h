// Two-file formats name their partner after the image ("GAME.dat" beside
// "GAME.2HD"), but disks copied from case-blind media rarely keep the case
// the format writes.
#pragma once

#include <optional>
#include <string>

namespace dravik {

// path itself when it names a regular file (a link to one counts);
// otherwise an entry of path's folder whose name equals path's name without
// regard to ASCII case and which is a regular file, as folder + entry name.
// Of several such entries the one first in byte order is taken, so the
// answer does not depend on the order of the folder listing. Nothing when
// there is none, or when the path does not fit the platform's limits.
std::optional<std::string> FindPartnerFile(const std::string& path);

}  // namespace dravik
