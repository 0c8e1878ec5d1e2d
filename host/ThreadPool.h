// The worker threads behind the test host's multi-thread suite.
//
// Owns: a fixed set of worker threads and the rules of one multiThread call: the function
// runs once for every index 0 .. n-1, each run knows its index, and the caller waits for all.
// Does not own: the OpenFX statuses of the suite (host/Suites.cpp maps results to them).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vd::testhost {

class ThreadPool {
  public:
    explicit ThreadPool(unsigned threads);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    unsigned size() const { return unsigned(workers_.size()); }

    // Runs work(index) for every index below count on the workers and waits for all of them.
    // Returns false without running anything when called from one of this pool's workers
    // (a nested call would wait for itself).
    bool run(unsigned count, const std::function<void(unsigned index)>& work);

    // On a worker while it runs an index: true, and that index. Elsewhere: false.
    static bool onWorker();
    static unsigned workerIndex();

  private:
    void workerLoop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace vd::testhost
