#pragma once

// ThreadSanitizer cannot see the orderings that Qt's own synchronisation
// gives: Qt is not built with it, and Qt's mutexes and semaphores wait on
// futexes. Where our code relies on such an ordering, these helpers state it
// in terms the sanitizer understands. Outside ThreadSanitizer builds they
// compile to nothing.

#if defined(__SANITIZE_THREAD__)
#define MORVANE_HAS_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MORVANE_HAS_TSAN 1
#endif
#endif

#ifdef MORVANE_HAS_TSAN
extern "C" void __tsan_acquire(void *address);
extern "C" void __tsan_release(void *address);

inline void tsanRelease(const void *address) { __tsan_release(const_cast<void *>(address)); }
inline void tsanAcquire(const void *address) { __tsan_acquire(const_cast<void *>(address)); }

#else
inline void tsanRelease(const void *) {}
inline void tsanAcquire(const void *) {}
#endif
