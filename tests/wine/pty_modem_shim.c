/* Preloaded into Wine (LD_PRELOAD) for the serial tests: a pty has no modem
 * lines, so TIOCMGET, TIOCMSET, TIOCMBIS and TIOCMBIC fail on it with ENOTTY.
 * Wine's helper for an overlapped WaitCommEvent asks TIOCMGET and cancels the
 * wait (error 995) when it fails, so on a bare pty no wait ever sees a
 * character. Here those four calls succeed on pty slaves: DSR, CTS and CD are
 * always up, DTR and RTS are what the program last set (per descriptor).
 * Every other call, and every other device, goes to the C library untouched.
 *
 * Built natively (not by the cross compiler): cc -shared -fPIC -o x.so x.c -ldl
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stddef.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

enum { kTrackedFds = 4096 };
static const int kOutputLines = TIOCM_DTR | TIOCM_RTS;
static const int kInputLines = TIOCM_DSR | TIOCM_CTS | TIOCM_CAR;
static int output_lines[kTrackedFds]; /* DTR/RTS, inverted: 0 means both up */

/* Unix 98 pty slaves have majors 136 to 143. */
static int is_pty_slave(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

static int modem_call(unsigned long request) {
  return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

int ioctl(int fd, unsigned long request, ...) {
  static ioctl_fn next;
  if (!next) next = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
  va_list args;
  va_start(args, request);
  void *arg = va_arg(args, void *);
  va_end(args);

  const int rc = next(fd, request, arg);
  if (rc == 0 || errno != ENOTTY || !modem_call(request) || !is_pty_slave(fd) || fd < 0 ||
      fd >= kTrackedFds || arg == NULL)
    return rc;
  int *lines = (int *)arg;
  int up = ~output_lines[fd] & kOutputLines;
  if (request == TIOCMGET) {
    *lines = up | kInputLines;
  } else {
    if (request == TIOCMSET) up = *lines & kOutputLines;
    if (request == TIOCMBIS) up |= *lines & kOutputLines;
    if (request == TIOCMBIC) up &= ~*lines;
    output_lines[fd] = ~up & kOutputLines;
  }
  errno = 0;
  return 0;
}
