/* No group database on Windows: libntfs-3g's group mapping finds none. */
#ifndef SHARDIX_NTFS3G_MINGW_GRP_H
#define SHARDIX_NTFS3G_MINGW_GRP_H
#include <stddef.h>
#include <sys/types.h>
struct group {
  char *gr_name;
  char *gr_passwd;
  gid_t gr_gid;
  char **gr_mem;
};
static inline struct group *getgrnam(const char *name) { (void)name; return NULL; }
static inline struct group *getgrgid(gid_t gid) { (void)gid; return NULL; }
#endif
