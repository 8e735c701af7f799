/* The contract between the program and its format plug-ins. A plug-in is a
 * shared library exporting these undecorated C functions; everything else in
 * it stays hidden. Texts crossing this boundary are UTF-8. */
#ifndef DRAVIK_PLUGIN_API_H
#define DRAVIK_PLUGIN_API_H

#include <stdint.h>

#include "dravik/disk_image.h"

#ifdef __cplusplus
extern "C" {
#endif

DRAVIK_CONST(kIdentitySize, 256)
DRAVIK_CONST(kCapsSize, 10)
DRAVIK_CONST(kExtensionSize, 256)
DRAVIK_CONST(kLabelSize, 256)
DRAVIK_CONST(kMessageSize, 1024)
DRAVIK_CONST(kPluginTitleSize, 256)
DRAVIK_CONST(kOutputPathSize, 4096) /* PATH_MAX: the direct-mode target buffer */

/* identity[0] */
DRAVIK_CONST(kKindInput, 0)
DRAVIK_CONST(kKindOutput, 1)
/* identity[1] */
DRAVIK_CONST(kInterfaceVersion, 1)
/* identity + 2 holds the description */
DRAVIK_CONST(kDescriptionOffset, 2)

/* Indices into caps. */
DRAVIK_CONST(kCapDiskImage, 0) /* works through a DiskImage */
DRAVIK_CONST(kCapDirect, 1) /* converts source to output itself */
DRAVIK_CONST(kCapKeepExtension, 8) /* output names keep the source extension */
DRAVIK_CONST(kCapTitle, 9) /* delivers a title: comment file is written */

/* Results of every export. */
DRAVIK_CONST(kResultOk, 0)
DRAVIK_CONST(kResultAborted, 1)
DRAVIK_CONST(kResultNotMine, 2)
DRAVIK_CONST(kResultReadError, 6)
DRAVIK_CONST(kResultWriteError, 7)
DRAVIK_CONST(kResultFailed, 8) /* explained in the message buffer */
DRAVIK_CONST(kResultMoreDisks, 9)
DRAVIK_CONST(kResultSkipped, 10)

/* Returns 0 to go on, nonzero to abort. message is the plug-in's own buffer:
 * a text for the log beginning with "\r\n", or "". */
typedef int (*ProgressCallback)(int done, int total, char* message);

typedef int (*GetPluginInfoFn)(char* identity, uint8_t* caps, char* extension,
                               char* label);
typedef int (*IsSupportFn)(const char* path, char* message);
typedef int (*GetFileInfoFn)(const char* path, char* message, char* title,
                             int16_t* multi_disk);
/* target: a DiskImage, or in direct mode the output path. */
typedef int (*ReadDiskFn)(const char* path, void* target, int disk_number,
                          int direct, ProgressCallback progress, char* message,
                          char* title);
typedef int (*WriteDiskFn)(DiskImage* image, const char* output_path,
                           int direct, ProgressCallback progress,
                           char* message);

#if defined(__GNUC__)
#define DRAVIK_EXPORT __attribute__((visibility("default")))
#else
#define DRAVIK_EXPORT
#endif

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char* extension,
                                char* label);
DRAVIK_EXPORT int IsSupport(const char* path, char* message);
DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title,
                              int16_t* multi_disk);
DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int disk_number,
                           int direct, ProgressCallback progress,
                           char* message, char* title);
DRAVIK_EXPORT int WriteDisk(DiskImage* image, const char* output_path,
                            int direct, ProgressCallback progress,
                            char* message);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* DRAVIK_PLUGIN_API_H */
