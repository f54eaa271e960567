/* POSIX pieces that libntfs-3g expects and mingw-w64 lacks. Forced into
 * every compile of the library for the Windows tree (-include), and included
 * by our own code before the library's headers, so both see one set of
 * definitions. Nothing here does real work on Windows: user and group
 * mappings, device numbers and syslog are unused by an image backend. */
#ifndef SHARDIX_NTFS3G_MINGW_SHIM_H
#define SHARDIX_NTFS3G_MINGW_SHIM_H

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

/* mingw-w64 declares struct timespec itself; the library's ntfstime.h would
 * declare it again unless told that it exists. */
#ifndef __timespec_defined
#define __timespec_defined 1
#endif

/* Device I/O declarations in the library's device_io.h name this structure
 * in a prototype before declaring it. */
struct ntfs_device;

typedef unsigned int uid_t;
typedef unsigned int gid_t;

/* File types that Windows' C library does not define (Linux values). */
#ifndef S_IFLNK
#define S_IFLNK 0xA000
#endif
#ifndef S_IFSOCK
#define S_IFSOCK 0xC000
#endif
#ifndef S_ISLNK
#define S_ISLNK(m) (((m) & S_IFMT) == S_IFLNK)
#endif
#ifndef S_ISSOCK
#define S_ISSOCK(m) (((m) & S_IFMT) == S_IFSOCK)
#endif
#ifndef S_ISUID
#define S_ISUID 04000
#endif
#ifndef S_ISGID
#define S_ISGID 02000
#endif
#ifndef S_ISVTX
#define S_ISVTX 01000
#endif

/* Error numbers the library uses, outside mingw-w64's range (it ends at
 * 140). */
#ifndef EBADRQC
#define EBADRQC 200
#endif
#ifndef ENOSHARE
#define ENOSHARE 201
#endif

/* Device numbers of special files, kept as Linux packs them. */
#ifndef makedev
#define major(dev) ((unsigned int)(((dev) >> 8) & 0xfff))
#define minor(dev) ((unsigned int)(((dev) & 0xff) | (((dev) >> 12) & 0xfff00)))
#define makedev(ma, mi) \
  ((dev_t)((((ma) & 0xfff) << 8) | ((mi) & 0xff) | (((mi) & 0xfff00) << 12)))
#endif

#ifdef __cplusplus
extern "C" {
#endif
/* compat.c carries it; some of the library's files call it undeclared. */
extern int ffs(int i);
#ifdef __cplusplus
}
#endif

/* Nobody owns anything: user and group mappings stay empty. */
static inline uid_t getuid(void) { return 0; }
static inline gid_t getgid(void) { return 0; }

/* Only for the random bytes of a new security descriptor's owner. */
static inline long random(void) { return (long)rand(); }
static inline void srandom(unsigned int seed) { srand(seed); }

/* daemon(), which the library carries for its driver, cannot fork here. */
static inline int fork(void) { errno = ENOSYS; return -1; }
static inline int setsid(void) { errno = ENOSYS; return -1; }

#endif /* SHARDIX_NTFS3G_MINGW_SHIM_H */
