// sdbus-c++ comes uninstrumented from the distribution: the thread sanitizer cannot see the atomics
// with which it hands reply data between its event-loop thread and ours, and reports the hand-over
// as a race. Races inside our own code are still reported.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() { return "race:libsdbus-c++.so\n"; }
#endif
