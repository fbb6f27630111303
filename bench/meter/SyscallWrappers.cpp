// These definitions take the place of the C library's entry points in the
// benchmark executables (a definition in the executable wins over the shared
// library's): each counts the call and forwards it. No system prototypes are
// seen here, so the plain names can be defined whatever the headers say; the
// _chk entry points that fortified callers use are wrapped as well.
#include <dlfcn.h>

#include <cstdarg>
#include <cstddef>

namespace bench {
void Count();
}

namespace {
using ssize_t = long;
using socklen_t = unsigned;
using nfds_t = unsigned long;
struct sockaddr;
struct msghdr;
struct pollfd;
struct timespec;
struct timeval;
struct sigset_t;
struct fd_set;
struct epoll_event;
struct termios;
using clockid_t = int;
using eventfd_t = unsigned long;

template <class F>
F Real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
}  // namespace

using bench::Count;

#define FORWARD(name, ret, params, args)           \
  extern "C" ret name params {                     \
    static auto real = Real<ret(*) params>(#name); \
    Count();                                       \
    return real args;                              \
  }

extern "C" {
FORWARD(read, ssize_t, (int fd, void* b, std::size_t n), (fd, b, n))
FORWARD(write, ssize_t, (int fd, const void* b, std::size_t n), (fd, b, n))
FORWARD(__read_chk, ssize_t, (int fd, void* b, std::size_t n, std::size_t l), (fd, b, n, l))
FORWARD(recv, ssize_t, (int fd, void* b, std::size_t n, int f), (fd, b, n, f))
FORWARD(__recv_chk, ssize_t, (int fd, void* b, std::size_t n, std::size_t l, int f),
        (fd, b, n, l, f))
FORWARD(recvfrom, ssize_t, (int fd, void* b, std::size_t n, int f, sockaddr* a, socklen_t* l),
        (fd, b, n, f, a, l))
FORWARD(__recvfrom_chk, ssize_t,
        (int fd, void* b, std::size_t n, std::size_t bl, int f, sockaddr* a, socklen_t* l),
        (fd, b, n, bl, f, a, l))
FORWARD(recvmsg, ssize_t, (int fd, msghdr* m, int f), (fd, m, f))
FORWARD(send, ssize_t, (int fd, const void* b, std::size_t n, int f), (fd, b, n, f))
FORWARD(sendto, ssize_t,
        (int fd, const void* b, std::size_t n, int f, const sockaddr* a, socklen_t l),
        (fd, b, n, f, a, l))
FORWARD(sendmsg, ssize_t, (int fd, const msghdr* m, int f), (fd, m, f))
FORWARD(poll, int, (pollfd * f, nfds_t n, int t), (f, n, t))
FORWARD(__poll_chk, int, (pollfd * f, nfds_t n, int t, std::size_t l), (f, n, t, l))
FORWARD(ppoll, int, (pollfd * f, nfds_t n, const timespec* t, const sigset_t* s), (f, n, t, s))
FORWARD(__ppoll_chk, int,
        (pollfd * f, nfds_t n, const timespec* t, const sigset_t* s, std::size_t l),
        (f, n, t, s, l))
FORWARD(select, int, (int n, fd_set* r, fd_set* w, fd_set* e, timeval* t), (n, r, w, e, t))
FORWARD(pselect, int,
        (int n, fd_set* r, fd_set* w, fd_set* e, const timespec* t, const sigset_t* s),
        (n, r, w, e, t, s))
FORWARD(epoll_wait, int, (int fd, epoll_event* e, int n, int t), (fd, e, n, t))
FORWARD(epoll_pwait, int, (int fd, epoll_event* e, int n, int t, const sigset_t* s),
        (fd, e, n, t, s))
FORWARD(epoll_ctl, int, (int fd, int op, int target, epoll_event* e), (fd, op, target, e))
FORWARD(eventfd_read, int, (int fd, eventfd_t* v), (fd, v))
FORWARD(eventfd_write, int, (int fd, eventfd_t v), (fd, v))
FORWARD(tcgetattr, int, (int fd, termios* t), (fd, t))
FORWARD(tcsetattr, int, (int fd, int a, const termios* t), (fd, a, t))
FORWARD(tcflush, int, (int fd, int q), (fd, q))
FORWARD(tcdrain, int, (int fd), (fd))
FORWARD(nanosleep, int, (const timespec* r, timespec* left), (r, left))
FORWARD(clock_nanosleep, int, (clockid_t c, int f, const timespec* r, timespec* left),
        (c, f, r, left))
FORWARD(sched_yield, int, (), ())

int ioctl(int fd, unsigned long request, ...) {
  static auto real = Real<int (*)(int, unsigned long, void*)>("ioctl");
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  Count();
  return real(fd, request, arg);
}

int fcntl(int fd, int cmd, ...) {
  static auto real = Real<int (*)(int, int, void*)>("fcntl");
  va_list args;
  va_start(args, cmd);
  void* arg = va_arg(args, void*);
  va_end(args);
  Count();
  return real(fd, cmd, arg);
}
}
