#include "ThreadPool.h"

#include <atomic>
#include <memory>

namespace vd::testhost {
namespace {

struct WorkerState {
    bool onWorker = false;
    bool running = false;
    unsigned index = 0;
};
thread_local WorkerState tWorker;

}  // namespace

ThreadPool::ThreadPool(unsigned threads) {
    if (threads == 0) {
        threads = 1;
    }
    workers_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) {
        workers_.emplace_back([this] { workerLoop(); });
    }
}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_) {
        worker.join();
    }
}

void ThreadPool::workerLoop() {
    tWorker.onWorker = true;
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        task();
    }
}

bool ThreadPool::run(unsigned count, const std::function<void(unsigned index)>& work) {
    if (tWorker.onWorker) {
        return false;
    }
    struct Batch {
        std::mutex mutex;
        std::condition_variable done;
        unsigned remaining;
    };
    auto batch = std::make_shared<Batch>();
    batch->remaining = count;
    {
        std::lock_guard lock(mutex_);
        for (unsigned i = 0; i < count; ++i) {
            queue_.push_back([batch, &work, i] {
                tWorker.running = true;
                tWorker.index = i;
                work(i);
                tWorker.running = false;
                std::lock_guard done(batch->mutex);
                if (--batch->remaining == 0) {
                    batch->done.notify_all();
                }
            });
        }
    }
    wake_.notify_all();
    std::unique_lock lock(batch->mutex);
    batch->done.wait(lock, [&] { return batch->remaining == 0; });
    return true;
}

bool ThreadPool::onWorker() {
    return tWorker.onWorker && tWorker.running;
}

unsigned ThreadPool::workerIndex() {
    return tWorker.index;
}

}  // namespace vd::testhost
