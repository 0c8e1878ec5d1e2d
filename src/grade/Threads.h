// Running bands of work on several threads: the engine's own threads, with the fallback
// that keeps a render going when a thread cannot be started.
//
// Owns: runOnThreads (start, run, join), the hardware thread count and the thread counts
// of helper loops (blurs, conversions).
// Does not own: the host thread pool (GradeSettings::multiThread) or what a band does.
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

// Threads for a helper loop over `rows` rows: min(hardware threads, 32, rows), and 1 when
// that is below 2 or there are fewer than 8 rows.
int helperThreads(int rows);

}  // namespace vd

namespace vd {

// Calls f(row) for every row in 0..rows-1 on helperThreads(rows) threads, thread i taking
// rows i, i + n, i + 2n and so on. Each row's result depends only on the row, so the
// output is the same for any thread count.
// f(row, threadIndex) with threadIndex below helperThreads(rows), for loops that keep
// per-thread scratch.
template <class F>
void forEachRowIndexed(int rows, F&& f) {
    const int n = helperThreads(rows);
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
    runOnThreads(
        n,
        [](void* arg, int index, int count) {
            auto* j = static_cast<Job*>(arg);
            for (int r = index; r < j->rows; r += count) {
                (*j->f)(r, index);
            }
        },
        &job);
}

template <class F>
void forEachRow(int rows, F&& f) {
    forEachRowIndexed(rows, [&f](int row, int) { f(row); });
}

}  // namespace vd
