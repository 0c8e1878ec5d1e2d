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

ThreadPlan threadPlan(const GradeSettings& s) {
    ThreadPlan plan;
    plan.threads = std::clamp(s.threadCount >= 1 ? s.threadCount : hardwareThreads(), 1, 32);
    plan.host = s.multiThread;
    plan.hostContext = s.multiThreadContext;
    return plan;
}

void runBands(const ThreadPlan& plan, int n, GradeWorker worker, void* arg) {
    n = std::clamp(n, 1, 32);
    if (n == 1) {
        worker(arg, 0, 1);
    } else if (plan.host != nullptr) {
        plan.host(plan.hostContext, n, worker, arg);
    } else {
        runOnThreads(n, worker, arg);
    }
}

int helperBands(const ThreadPlan& plan, int rows) {
    const int n = std::min(plan.threads, rows);
    return n < 2 || rows < 8 ? 1 : n;
}

}  // namespace vd
