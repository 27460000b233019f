#include "exports/StepRoutine.h"

#include <chrono>

#include "qb7720/platform/Platform.h"

namespace qb::dll {

void settleWait() {
    const auto platform = platform::currentShared();
    for (int i = 0; i < 3000; ++i) platform->sleep(std::chrono::milliseconds(1));
}

}  // namespace qb::dll
