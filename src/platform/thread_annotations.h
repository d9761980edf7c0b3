// Clang thread-safety annotations (-Wthread-safety). They document which lock
// guards which field and let clang check it; on other compilers they vanish.
#pragma once

#if defined(__clang__)
#define AMBERVOX_TS_ATTR(x) __attribute__((x))
#else
#define AMBERVOX_TS_ATTR(x)
#endif

#define CAPABILITY(x) AMBERVOX_TS_ATTR(capability(x))
#define SCOPED_CAPABILITY AMBERVOX_TS_ATTR(scoped_lockable)
#define GUARDED_BY(x) AMBERVOX_TS_ATTR(guarded_by(x))
#define PT_GUARDED_BY(x) AMBERVOX_TS_ATTR(pt_guarded_by(x))
#define REQUIRES(...) AMBERVOX_TS_ATTR(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) AMBERVOX_TS_ATTR(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) AMBERVOX_TS_ATTR(acquire_capability(__VA_ARGS__))
#define RELEASE(...) AMBERVOX_TS_ATTR(release_capability(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) AMBERVOX_TS_ATTR(assert_capability(x))
// Only for a known false positive of the analysis, on the one function that
// needs it, with a comment that says why; no code needs it today.
#define NO_THREAD_SAFETY_ANALYSIS AMBERVOX_TS_ATTR(no_thread_safety_analysis)
