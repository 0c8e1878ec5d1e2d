// Running bands of work on several threads: the host's thread pool when the render has
// one, else the engine's own threads, with the fallback that keeps a render going when a
// thread cannot be started.
//
// Owns: ThreadPlan (how many bands a render's loops use and where they run), runBands,
// runOnThreads (start, run, join), the hardware thread count and the row loops of the
// helper passes (reductions, blurs).
// Does not own: what a band does.
#pragma once

#include <thread>

#include "grade/GradeSettings.h"

namespace vd {

// Starts a thread running worker(arg, index, count) into `out`; false when it cannot.
using ThreadLauncher = bool (*)(std::thread& out, GradeWorker worker, void* arg, int index,
                                int count);

// The launcher used in renders: std::thread, with start failures reported as false.
bool launchStdThread(std::thread& out, GradeWorker worker, void* arg, int index, int count);

// Runs worker(arg, i, count) for every i in 0..count-1 and returns when all have finished.
// Band 0 and any band whose thread could not be started run on the calling thread, so
// every band runs exactly once whatever the launcher does. count is capped at 32.
void runOnThreads(int count, GradeWorker worker, void* arg,
                  ThreadLauncher launch = launchStdThread);

// Hardware threads, 4 when the system reports none.
int hardwareThreads();

// Where every loop of one render runs: at most `threads` bands (1..32), on the host's pool
// when `host` is set.
struct ThreadPlan {
    int threads = 1;
    MultiThreadEntry host = nullptr;
    void* hostContext = nullptr;
};

// The settings' thread count (the hardware count when below 1) and host pool.
ThreadPlan threadPlan(const GradeSettings& s);

// Runs worker(arg, i, n) for i in 0..n-1 (n capped at 32): on the calling thread when n is
// 1, else on the plan's host pool, else on the engine's own threads. The host may run the
// work as one band (worker(arg, 0, 1)) instead; workers must take the count they are given.
void runBands(const ThreadPlan& plan, int n, GradeWorker worker, void* arg);

// Bands of a helper loop over `rows` rows: min(plan threads, rows), 1 below 8 rows.
int helperBands(const ThreadPlan& plan, int rows);

// Calls f(row, band) for every row in 0..rows-1 on helperBands(plan, rows) bands, band i
// taking rows i, i + n, i + 2n and so on; band is below helperBands(plan, rows), for loops
// that keep per-band scratch. Each row's result depends only on the row, so the output is
// the same for any thread count.
template <class F>
void forEachRowIndexed(const ThreadPlan& plan, int rows, F&& f) {
    const int n = helperBands(plan, rows);
    if (n <= 1) {
        for (int r = 0; r < rows; ++r) {
            f(r, 0);
        }
        return;
    }
    struct Job {
        F* f;
        int rows;
    } job{&f, rows};
    runBands(
        plan, n,
        [](void* arg, int index, int count) {
            auto* j = static_cast<Job*>(arg);
            for (int r = index; r < j->rows; r += count) {
                (*j->f)(r, index);
            }
        },
        &job);
}

template <class F>
void forEachRow(const ThreadPlan& plan, int rows, F&& f) {
    forEachRowIndexed(plan, rows, [&f](int row, int) { f(row); });
}

}  // namespace vd
