// Preloaded into brom-demo by e2e.sh. It watches the threads that the C++ library starts: the
// demo's mixing thread is its only std::thread (SDL starts its own elsewhere). At a normal exit it
// tells on standard error how many were started and how many joined; with BROM_REFUSE_CXX_THREADS
// set it refuses to start them, as a system out of threads would.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { MAX_WATCHED = 16 };
static pthread_t watched[MAX_WATCHED];
static int started;
static int joined;

typedef int (*CreateFunction)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
typedef int (*JoinFunction)(pthread_t, void**);
static CreateFunction nextCreate;
static JoinFunction nextJoin;

// Found once, before the program runs.
__attribute__((constructor)) static void findNext(void) {
    nextCreate = (CreateFunction)dlsym(RTLD_NEXT, "pthread_create");
    nextJoin = (JoinFunction)dlsym(RTLD_NEXT, "pthread_join");
}

static int startsInCxxLibrary(void* (*routine)(void*)) {
    Dl_info info;
    return dladdr((void*)routine, &info) && info.dli_fname && strstr(info.dli_fname, "libstdc++");
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                   void* argument) {
    const int watch = startsInCxxLibrary(routine);
    if (watch && getenv("BROM_REFUSE_CXX_THREADS")) return EAGAIN;
    const int result = nextCreate(thread, attributes, routine, argument);
    if (result == 0 && watch && started < MAX_WATCHED) watched[started++] = *thread;
    return result;
}

int pthread_join(pthread_t thread, void** value) {
    const int result = nextJoin(thread, value);
    for (int k = 0; k < started && result == 0; ++k) {
        if (pthread_equal(watched[k], thread)) ++joined;
    }
    return result;
}

__attribute__((destructor)) static void report(void) {
    fprintf(stderr, "C++ library threads: %d started, %d joined\n", started, joined);
}
