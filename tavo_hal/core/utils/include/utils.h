#pragma once

#include <pthread.h>

#include <cerrno>
#include <cstdio>

// Names the calling thread. Linux limits names to 15 characters; a failure is
// reported with perror and otherwise ignored.
inline void set_thread_name(const char* name) {
  int rc = pthread_setname_np(pthread_self(), name);
  if (rc != 0) {
    errno = rc;
    perror("pthread_setname_np failed");
  }
}
