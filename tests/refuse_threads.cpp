// Preloaded into a program, makes every thread start fail as under a task
// limit (pthread_create answers EAGAIN), so that a test can check that the
// program still runs, on the threads it has.
#include <pthread.h>

#include <cerrno>

extern "C" int pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; }
