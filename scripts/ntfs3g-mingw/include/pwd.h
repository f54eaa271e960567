/* No user database on Windows: libntfs-3g's user mapping finds nobody. */
#ifndef SHARDIX_NTFS3G_MINGW_PWD_H
#define SHARDIX_NTFS3G_MINGW_PWD_H
#include <stddef.h>
#include <sys/types.h>
struct passwd {
  char *pw_name;
  char *pw_passwd;
  uid_t pw_uid;
  gid_t pw_gid;
  char *pw_gecos;
  char *pw_dir;
  char *pw_shell;
};
static inline struct passwd *getpwnam(const char *name) { (void)name; return NULL; }
static inline struct passwd *getpwuid(uid_t uid) { (void)uid; return NULL; }
#endif
