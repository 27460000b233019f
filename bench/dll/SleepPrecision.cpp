// How long the library's 1 ms sleep lasts, against the system's own sleep of 1 ms measured in the same
// run. On Windows the baseline is Sleep(1), which lasts one timer tick; the serial pacing and the pause
// budget count these sleeps, so their length sets the serial write rate.
//   <build>/bin/bench_sleep_precision [count]        (under Wine: wine bench_sleep_precision.exe)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "qb7720/platform/Platform.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
    double meanMs = 0;
    double medianMs = 0;
    double p99Ms = 0;
};

Figures measure(int count, const std::function<void()>& sleepOnce) {
    std::vector<double> ms;
    ms.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        sleepOnce();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    Figures f;
    for (const double v : ms) f.meanMs += v;
    f.meanMs /= static_cast<double>(ms.size());
    f.medianMs = ms[ms.size() / 2];
    f.p99Ms = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    return f;
}

void print(const char* what, const Figures& f) {
    std::printf("%-28s mean %7.3f ms  median %7.3f ms  p99 %7.3f ms\n", what, f.meanMs, f.medianMs, f.p99Ms);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 500;
    auto& platform = qb::platform::current();
#if defined(_WIN32)
    const char* baselineName = "system Sleep(1)";
    const auto baseline = measure(count, [] { Sleep(1); });
#else
    const char* baselineName = "system sleep_for(1 ms)";
    const auto baseline = measure(count, [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
#endif
    const auto library = measure(count, [&] { platform.sleep(std::chrono::milliseconds(1)); });
    std::printf("%d sleeps of 1 ms each\n", count);
    print(baselineName, baseline);
    print("library sleep(1 ms)", library);
    std::printf("library / system (mean): %.3f\n", library.meanMs / baseline.meanMs);
    return 0;
}
