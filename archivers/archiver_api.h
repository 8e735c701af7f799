/* The archiver libraries the program loads to unpack dropped archives:
 * UNLHA32.so (LZH) and UNZIP32.so (ZIP), found beside the program. Each
 * exports a check function and a command function, undecorated C. Paths and
 * command lines are byte strings (UTF-8 names), as the host file system has
 * them. */
#ifndef DRAVIK_ARCHIVER_API_H
#define DRAVIK_ARCHIVER_API_H

#include <stdint.h>

#include "dravik/plugin_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Results of Unlha and UnZip: 0 is success, anything else a failure. */
DRAVIK_CONST(kArchiverOk, 0)
DRAVIK_CONST(kArchiverBadCommand, 0x8001) /* the command line is not understood */
DRAVIK_CONST(kArchiverNotArchive, 0x8002) /* not an archive this library reads */
DRAVIK_CONST(kArchiverDamaged, 0x8003)    /* damaged or truncated, or an unknown method */
DRAVIK_CONST(kArchiverEncrypted, 0x8004)  /* an encrypted entry */
DRAVIK_CONST(kArchiverTooLarge, 0x8005)   /* past the size or entry limits */
DRAVIK_CONST(kArchiverWriteError, 0x8006) /* the target folder did not take a file */
DRAVIK_CONST(kArchiverInternal, 0x8007)

/* Limits on what one command may unpack: the archive and those inside it. */
#define DRAVIK_ARCHIVER_MAX_ENTRY_BYTES (UINT64_C(1) << 30)
#define DRAVIK_ARCHIVER_MAX_TOTAL_BYTES (UINT64_C(4) << 30)
#define DRAVIK_ARCHIVER_MAX_ENTRIES 65535

/* Nonzero when the file is an archive of the library's format: one that
 * begins as such archives do (a damaged one too, whose unpacking then
 * fails), an empty one, or one the library reads through its whole
 * directory. mode is 0 (the only mode the program uses). */
typedef int (*ArchiverCheckFn)(const char* archive_path, int mode);
/* Runs a command line:
 *   UNLHA32: e -n1 "ARCHIVE" "FOLDER/"
 *   UNZIP32: -x -j --i "ARCHIVE" "FOLDER/"
 * Both put every regular file of the archive into FOLDER under its base name;
 * a name already present there gets "_2", "_3", ... before its extension.
 * Unpacked ".LZH" and ".ZIP" files that are archives are unpacked in turn
 * in their place, one level deep; the limits below hold for all together. An
 * empty archive succeeds and puts nothing there.
 * window is unused. When output_size is not 0, output receives a short
 * report (UTF-8, NUL-terminated). */
typedef int (*ArchiverCommandFn)(void* window, const char* command_line, char* output,
                                 uint32_t output_size);

DRAVIK_EXPORT int UnlhaCheckArchive(const char* archive_path, int mode);
DRAVIK_EXPORT int Unlha(void* window, const char* command_line, char* output, uint32_t output_size);
DRAVIK_EXPORT int UnZipCheckArchive(const char* archive_path, int mode);
DRAVIK_EXPORT int UnZip(void* window, const char* command_line, char* output, uint32_t output_size);

#ifdef __cplusplus
}
#endif

#endif /* DRAVIK_ARCHIVER_API_H */
