/* A null-modem cable between two ptys, for the serial tests under Wine: what
 * one slave writes the other reads, and each direction goes on by itself
 * when the other is held up (a device that does not read its input must not
 * stop it from sending, as on a real cable). Each direction keeps what it
 * could not pass on yet in a buffer of its own.
 *
 *   pty_cable LINK_A LINK_B
 *
 * makes two ptys, links LINK_A and LINK_B to their slaves (once both links
 * are there the cable is ready) and runs until killed. It keeps each slave
 * open itself: a pty master reads EIO once its slave's last descriptor is
 * closed, which would cut the cable between two tests. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

enum { kBuffer = 1 << 16 };

struct end {
  int master;
  int slave;
};

/* Bytes read from one master that the other has not taken yet. */
struct direction {
  int from, to;
  size_t len;
  unsigned char buf[kBuffer];
};

static int make_end(const char *link, struct end *e) {
  e->master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (e->master < 0 || grantpt(e->master) != 0 || unlockpt(e->master) != 0) return -1;
  const char *name = ptsname(e->master);
  if (name == NULL) return -1;
  e->slave = open(name, O_RDWR | O_NOCTTY);
  if (e->slave < 0) return -1;
  struct termios t;
  if (tcgetattr(e->slave, &t) != 0) return -1;
  cfmakeraw(&t);
  if (tcsetattr(e->slave, TCSANOW, &t) != 0) return -1;
  /* The link appears whole: a reader never sees it half made. */
  char tmp[4096];
  snprintf(tmp, sizeof tmp, "%s.new", link);
  unlink(tmp);
  if (symlink(name, tmp) != 0 || rename(tmp, link) != 0) return -1;
  return 0;
}

/* Moves what it can; -1 when an end has gone for good. */
static int pass(struct direction *d, short fromEvents, short toEvents) {
  if ((fromEvents & POLLIN) && d->len < kBuffer) {
    ssize_t n = read(d->from, d->buf + d->len, kBuffer - d->len);
    if (n > 0) d->len += (size_t)n;
    else if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) return -1;
  }
  if ((toEvents & POLLOUT) && d->len > 0) {
    ssize_t n = write(d->to, d->buf, d->len);
    if (n > 0) {
      d->len -= (size_t)n;
      memmove(d->buf, d->buf + n, d->len);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return -1;
    }
  }
  return 0;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s LINK_A LINK_B\n", argv[0]);
    return 2;
  }
  struct end a, b;
  if (make_end(argv[1], &a) != 0 || make_end(argv[2], &b) != 0) {
    perror("pty_cable");
    return 1;
  }
  static struct direction ab, ba;
  ab.from = a.master;
  ab.to = b.master;
  ba.from = b.master;
  ba.to = a.master;
  for (;;) {
    struct pollfd fds[2] = {{a.master, 0, 0}, {b.master, 0, 0}};
    if (ab.len < kBuffer) fds[0].events |= POLLIN;
    if (ba.len > 0) fds[0].events |= POLLOUT;
    if (ba.len < kBuffer) fds[1].events |= POLLIN;
    if (ab.len > 0) fds[1].events |= POLLOUT;
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      perror("pty_cable: poll");
      return 1;
    }
    if (pass(&ab, fds[0].revents, fds[1].revents) != 0 ||
        pass(&ba, fds[1].revents, fds[0].revents) != 0) {
      perror("pty_cable");
      return 1;
    }
  }
}
