// Marks the threads that are running a caller's callback for the library, so that code which waits
// for other callbacks to finish can tell when waiting could close a cycle.
#pragma once

namespace qb::dll {

// Held for the duration of one call into a caller's callback.
class CallbackScope {
  public:
    CallbackScope();
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

    // True while the calling thread is inside any library callback.
    static bool active();
};

}  // namespace qb::dll
