// libntfs-3g's installed headers, made usable from C++. Include this last in
// a source file of this folder and nowhere else: the headers expect the C
// library headers and the HAVE_* macros of the library's own build, carry no
// extern "C" guards, and define macros (min, max, test_bit, ...) that collide
// with the standard library.
#pragma once

// Standard headers the sources of this folder use, included before the
// library can define min and max over them.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#ifdef _WIN32
// The Windows tree's libntfs-3g (scripts/build-ntfs3g-windows.sh): the POSIX
// types and constants its headers expect, as its own compile saw them.
#include <ntfs-3g-mingw-shim.h>
#endif

#ifndef HAVE_STDIO_H
#define HAVE_STDIO_H 1
#endif
#ifndef HAVE_STDARG_H
#define HAVE_STDARG_H 1
#endif
#ifndef HAVE_TIME_H
#define HAVE_TIME_H 1
#endif
#ifndef HAVE_SYS_TYPES_H
#define HAVE_SYS_TYPES_H 1
#endif
#ifndef HAVE_SYS_STAT_H
#define HAVE_SYS_STAT_H 1
#endif
#ifndef HAVE_STDINT_H
#define HAVE_STDINT_H 1
#endif

extern "C" {
#include <ntfs-3g/types.h>
#include <ntfs-3g/support.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/volume.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/attrlist.h>
#include <ntfs-3g/runlist.h>
#include <ntfs-3g/bitmap.h>
#include <ntfs-3g/lcnalloc.h>
#include <ntfs-3g/mft.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/logging.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/cache.h>

// The library's own device code for images and devices (device_io.h picks
// it by HAVE_WINDOWS_H, which this build does not define).
#ifdef _WIN32
extern struct ntfs_device_operations ntfs_device_win32_io_ops;
#define SHARDIX_LIBRARY_IO_OPS ntfs_device_win32_io_ops
#else
extern struct ntfs_device_operations ntfs_device_unix_io_ops;
#define SHARDIX_LIBRARY_IO_OPS ntfs_device_unix_io_ops
#endif
}

#undef min
#undef max
