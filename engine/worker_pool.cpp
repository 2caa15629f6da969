#include "worker_pool.h"

#include <new>
#include <system_error>

namespace sorvane {

WorkerPool::WorkerPool(int threads) {
    try {
        if (threads > 0)
            threads_.reserve(static_cast<std::size_t>(threads));
        for (int i = 0; i < threads; ++i)
            threads_.emplace_back([this](std::stop_token stop) { Work(stop); });
    } catch (const std::system_error&) {
        // EAGAIN: a process limit, or no memory for another stack. The
        // threads made so far do the work.
    } catch (const std::bad_alloc&) {
    }
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
