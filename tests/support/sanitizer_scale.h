// How much shorter long test loops run in a sanitizer build.
#pragma once

namespace testing_support {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define CORVANE_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
#define CORVANE_TEST_SANITIZED 1
#endif
#endif

// Loop counts in the tests are the full figures of a normal build. Sanitizer builds run
// several times slower on a shared machine, so they divide the counts by this to stay
// within about a minute per test.
#ifdef CORVANE_TEST_SANITIZED
inline constexpr int kSanitizerDivisor = 5;
#else
inline constexpr int kSanitizerDivisor = 1;
#endif

}  // namespace testing_support
