#pragma once

#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <thread>

// Names the calling thread. Linux limits names to 15 characters; a failure is
// reported with perror and otherwise ignored.
inline void set_thread_name(const char* name) {
  int rc = pthread_setname_np(pthread_self(), name);
  if (rc != 0) {
    errno = rc;
    perror("pthread_setname_np failed");
  }
}

// Names a thread just started, as the thread itself will: the name is in place
// once its starter returns (the real-time mode finds the frame path's threads
// by name right after the bus and the dispatcher have started). Failures are
// left to the thread's own set_thread_name to report.
inline void name_started_thread(std::thread& thread, const char* name) {
  pthread_setname_np(thread.native_handle(), name);
}
