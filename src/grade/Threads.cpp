#include "grade/Threads.h"

#include <algorithm>
#include <array>
#include <system_error>

namespace vd {

bool launchStdThread(std::thread& out, GradeWorker worker, void* arg, int index, int count) {
    try {
        out = std::thread(worker, arg, index, count);
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void runOnThreads(int count, GradeWorker worker, void* arg, ThreadLauncher launch) {
    count = std::clamp(count, 1, 32);
    std::array<std::thread, 32> threads;
    std::array<bool, 32> started{};
    // Bands 1..count-1 go to new threads; once one fails to start, the rest stay with
    // the calling thread instead of trying again.
    bool launching = true;
    for (int i = 1; i < count && launching; ++i) {
        started[i] = launch(threads[i], worker, arg, i, count);
        launching = started[i];
    }
    worker(arg, 0, count);
    for (int i = 1; i < count; ++i) {
        if (!started[i]) {
            worker(arg, i, count);
        }
    }
    for (int i = 1; i < count; ++i) {
        if (started[i] && threads[i].joinable()) {
            threads[i].join();
        }
    }
}

int hardwareThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 4 : static_cast<int>(std::min(n, 1024u));
}

int helperThreads(int rows) {
    const int n = std::min({hardwareThreads(), 32, rows});
    return n < 2 || rows < 8 ? 1 : n;
}

}  // namespace vd
