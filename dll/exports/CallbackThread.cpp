#include "exports/CallbackThread.h"

namespace qb::dll {
namespace {
thread_local int callbackDepth = 0;
}  // namespace

CallbackScope::CallbackScope() {
    ++callbackDepth;
}

CallbackScope::~CallbackScope() {
    --callbackDepth;
}

bool CallbackScope::active() {
    return callbackDepth > 0;
}

}  // namespace qb::dll
