// An archiver library for tests that accepts every file and exports no
// command function, as a damaged or foreign library might.
#include "archiver_api.h"

extern "C" {

DRAVIK_EXPORT int UnlhaCheckArchive(const char*, int) { return 1; }
DRAVIK_EXPORT int UnZipCheckArchive(const char*, int) { return 1; }

}  // extern "C"
