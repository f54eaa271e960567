/* No syslog on Windows: libntfs-3g's syslog handler writes nowhere. */
#ifndef SHARDIX_NTFS3G_MINGW_SYSLOG_H
#define SHARDIX_NTFS3G_MINGW_SYSLOG_H
#include <stdarg.h>
#define LOG_PID 0x01
#define LOG_CONS 0x02
#define LOG_USER (1 << 3)
#define LOG_DAEMON (3 << 3)
#define LOG_EMERG 0
#define LOG_ALERT 1
#define LOG_CRIT 2
#define LOG_ERR 3
#define LOG_WARNING 4
#define LOG_NOTICE 5
#define LOG_INFO 6
#define LOG_DEBUG 7
static inline void openlog(const char *ident, int option, int facility) {
  (void)ident; (void)option; (void)facility;
}
static inline void closelog(void) {}
static inline void vsyslog(int priority, const char *format, va_list args) {
  (void)priority; (void)format; (void)args;
}
static inline void syslog(int priority, const char *format, ...) {
  (void)priority; (void)format;
}
#endif
