// What kind of build the reliability tests run in. The long runs and the hostile catalogue are
// single-threaded and many times slower under the thread sanitizer, which has nothing to find in
// them; they skip that build and leave it to the thread tests.
#pragma once

#if defined(__SANITIZE_THREAD__)
constexpr bool THREAD_SANITIZER_BUILD = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool THREAD_SANITIZER_BUILD = true;
#else
constexpr bool THREAD_SANITIZER_BUILD = false;
#endif
#else
constexpr bool THREAD_SANITIZER_BUILD = false;
#endif

#define SKIP_UNDER_THREAD_SANITIZER()                                    \
    do {                                                                 \
        if (THREAD_SANITIZER_BUILD) {                                    \
            GTEST_SKIP() << "single-threaded: left to the thread tests"; \
        }                                                                \
    } while (0)
