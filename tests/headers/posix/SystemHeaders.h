// The C library's socket, select, time, ioctl and name-service headers, and
// glib's TRUE and FALSE (its own definitions when glib is not installed).
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>

#if __has_include(<glib.h>)
#include <glib.h>
#else
#ifndef FALSE
#define FALSE (0)
#endif
#ifndef TRUE
#define TRUE (!FALSE)
#endif
#endif
