#pragma once
// A small fixed pool of threads running submitted tasks in submission order.
// When the system gives fewer threads than asked for (a process limit, too
// little memory for their stacks), the pool makes do with those it got, and
// with none it runs each task at once on the thread that submits it.

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace sorvane {

class WorkerPool {
public:
    /// Starts up to `threads` threads; never throws for a thread that
    /// cannot be made.
    explicit WorkerPool(int threads);
    /// Drops the tasks not yet started and waits for the running ones.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    /// The threads actually running.
    int Threads() const { return static_cast<int>(threads_.size()); }

    /// Queues `task` (or, without threads, runs it here); its result or
    /// exception arrives through the future.
    template <class F> auto Submit(F task) -> std::future<decltype(task())> {
        using Result = decltype(task());
        auto packaged = std::make_shared<std::packaged_task<Result()>>(std::move(task));
        auto future = packaged->get_future();
        if (threads_.empty()) {
            (*packaged)();
            return future;
        }
        {
            std::lock_guard lock(mutex_);
            queue_.emplace_back([packaged] { (*packaged)(); });
        }
        wake_.notify_one();
        return future;
    }

    /// Drops the tasks not yet started; their futures report a broken promise.
    void DropPending();

private:
    void Work(std::stop_token stop);

    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::jthread> threads_;
};

} // namespace sorvane
