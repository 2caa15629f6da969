#include "worker_pool.h"

namespace sorvane {

WorkerPool::WorkerPool(int threads) {
    for (int i = 0; i < threads; ++i)
        threads_.emplace_back([this](std::stop_token stop) { Work(stop); });
}

WorkerPool::~WorkerPool() {
    DropPending();
    for (auto& thread : threads_)
        thread.request_stop();
    wake_.notify_all();
    threads_.clear(); // joins
}

void WorkerPool::DropPending() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(queue_);
    }
    // Destroying the tasks outside the lock breaks their promises.
}

void WorkerPool::Work(std::stop_token stop) {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [this] { return !queue_.empty(); }))
                return;
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        task();
    }
}

} // namespace sorvane
