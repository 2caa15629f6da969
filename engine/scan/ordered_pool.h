#pragma once
// Runs one function over a stream of jobs on a few threads and hands the
// results back in the order the jobs came in. The thread that feeds the jobs
// works too: when the oldest result is not ready it runs a job itself rather
// than wait, so on a small machine no core sits idle. Jobs live in a ring of
// slots that are claimed with one atomic step each; a thread out of jobs
// waits a moment awake before it sleeps, and sleepers are woken only for a
// backlog, so a scan of small files costs no lock and no wake-up per file.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace sorvane {

template <class Job, class Result> class OrderedPool {
public:
    /// `work` runs on any of the threads, several at once.
    using Work = std::function<Result(const Job&)>;

    /// Starts up to `threads` threads besides the caller's; never throws for
    /// a thread that cannot be made. `capacity` is how many jobs may wait
    /// for their turn at once (at least 1). Only `takingAtFirst` of the
    /// threads take jobs at first (all when it is negative); the others join
    /// in once the jobs turn out to wait rather than compute (files read
    /// from a disk instead of the cache), when more of them at once help.
    ///
    /// `threadStart`, when given, runs first on each of the threads.
    OrderedPool(int threads, std::size_t capacity, Work work, int takingAtFirst = -1,
                std::function<void()> threadStart = {})
        : work_(std::move(work)), threadStart_(std::move(threadStart)),
          slots_(std::max<std::size_t>(capacity, 1)),
          wakeBacklog_(std::max<std::size_t>(slots_.size() / 4, 1)),
          taking_(takingAtFirst < 0 ? threads : std::min(takingAtFirst, threads)) {
        try {
            for (int i = 0; i < threads; ++i)
                threads_.emplace_back([this, i] { WorkLoop(i); });
        } catch (const std::system_error&) {
            // A process limit, or no memory for another stack: the threads
            // made so far share the work.
        } catch (const std::bad_alloc&) {
        }
        made_.store(static_cast<int>(threads_.size()), std::memory_order_relaxed);
    }

    /// Stops the threads after the jobs they run now; jobs not yet taken
    /// are dropped.
    ~OrderedPool() { Stop(); }

    OrderedPool(const OrderedPool&) = delete;
    OrderedPool& operator=(const OrderedPool&) = delete;

    /// The threads running besides the caller's.
    int Threads() const { return static_cast<int>(threads_.size()); }

    /// How many of them take jobs now.
    int Taking() const {
        return std::min(taking_.load(std::memory_order_relaxed), Threads());
    }

    bool Empty() const { return head_ == tail_.load(std::memory_order_relaxed); }
    bool Full() const { return tail_.load(std::memory_order_relaxed) - head_ >= slots_.size(); }

    /// Queues a job; only when the pool is not Full.
    void Push(Job job) {
        const std::uint64_t index = tail_.load(std::memory_order_relaxed);
        Slot& slot = SlotOf(index);
        slot.job = std::move(job);
        slot.result.reset();
        slot.error = nullptr;
        slot.state.store(State(index, kQueued), std::memory_order_release);
        tail_.store(index + 1, std::memory_order_seq_cst);
        // A thread that ran out of jobs sleeps until a good many are queued:
        // waking it for every job would cost more than the job. The caller
        // runs what is left meanwhile, so nothing waits for a sleeper. Each
        // sleeper is woken once: it counts as awake from the call on, not
        // from when the system gets round to running it.
        if (sleeping_.load(std::memory_order_seq_cst) > 0 && Backlog() >= wakeBacklog_)
            WakeOne();
    }

    /// The oldest job and its result; only when the pool is not Empty. Runs
    /// jobs on the calling thread while it waits, and rethrows what `work`
    /// threw for the oldest job.
    std::pair<Job, Result> PopOldest() {
        const std::uint64_t index = head_;
        Slot& slot = SlotOf(index);
        for (;;) {
            std::uint64_t queued = State(index, kQueued);
            if (slot.state.compare_exchange_strong(queued, State(index, kTaken),
                                                   std::memory_order_acquire)) {
                Run(slot, index);
                break;
            }
            if (slot.state.load(std::memory_order_acquire) == State(index, kDone))
                break;
            // A thread has the oldest job: do a later one meanwhile.
            if (RunNext())
                continue;
            std::unique_lock lock(mutex_);
            ownerWaiting_.store(true, std::memory_order_seq_cst);
            done_.wait(lock, [&] {
                return slot.state.load(std::memory_order_seq_cst) == State(index, kDone);
            });
            ownerWaiting_.store(false, std::memory_order_relaxed);
            break;
        }
        ++head_;
        if (slot.error)
            std::rethrow_exception(std::exchange(slot.error, nullptr));
        return {std::move(slot.job), std::move(*slot.result)};
    }

    /// Ends the threads after the jobs they run now. What is still queued is
    /// run by PopOldest on the caller's thread from then on.
    void Stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            stopAsked_.store(true, std::memory_order_relaxed);
        }
        wake_.notify_all();
        joined_.notify_all();
        for (auto& thread : threads_)
            thread.join();
        threads_.clear();
        made_.store(0, std::memory_order_relaxed);
    }

private:
    // How long a thread out of jobs stays awake: a few jobs' time.
    static constexpr std::chrono::microseconds kSpin{50};
    // A job this long has waited for something (the disk) rather than
    // computed: from the cache a file takes a few microseconds. When enough
    // of a run of jobs are so slow, every thread takes jobs.
    static constexpr std::chrono::microseconds kWaitingJob{100};
    static constexpr unsigned kJobsPerRun = 64;
    static constexpr unsigned kWaitingPerRun = 8;

    static constexpr std::uint64_t kQueued = 0, kTaken = 1, kDone = 2;

    // A slot's state carries the index of the job it holds, so a thread
    // that claims an index late never takes a newer job in the same slot.
    static constexpr std::uint64_t State(std::uint64_t index, std::uint64_t phase) {
        return index << 2 | phase;
    }

    struct Slot {
        std::atomic<std::uint64_t> state{~std::uint64_t{0}};
        Job job{};
        std::optional<Result> result;
        std::exception_ptr error;
    };

    Slot& SlotOf(std::uint64_t index) { return slots_[index % slots_.size()]; }

    /// Jobs queued that no thread has claimed yet.
    std::size_t Backlog() const {
        const std::uint64_t next = next_.load(std::memory_order_seq_cst);
        const std::uint64_t tail = tail_.load(std::memory_order_seq_cst);
        return tail > next ? static_cast<std::size_t>(tail - next) : 0;
    }

    void Run(Slot& slot, std::uint64_t index) {
        // Jobs are timed only while some threads are still left out.
        const bool timed =
            taking_.load(std::memory_order_relaxed) < made_.load(std::memory_order_relaxed);
        const auto start = timed ? std::chrono::steady_clock::now()
                                 : std::chrono::steady_clock::time_point{};
        try {
            slot.result.emplace(work_(slot.job));
        } catch (...) {
            slot.error = std::current_exception();
        }
        slot.state.store(State(index, kDone), std::memory_order_seq_cst);
        if (timed)
            NoteJobTime(std::chrono::steady_clock::now() - start);
    }

    /// Counts the jobs of each run of kJobsPerRun that waited; lets every
    /// thread take jobs once a run has enough of them. The counts are
    /// shared loosely: a job more or less in a run changes nothing.
    void NoteJobTime(std::chrono::steady_clock::duration took) {
        if (took >= kWaitingJob)
            waitingInRun_.fetch_add(1, std::memory_order_relaxed);
        if (jobsInRun_.fetch_add(1, std::memory_order_relaxed) + 1 < kJobsPerRun)
            return;
        jobsInRun_.store(0, std::memory_order_relaxed);
        if (waitingInRun_.exchange(0, std::memory_order_relaxed) < kWaitingPerRun)
            return;
        {
            std::lock_guard lock(mutex_);
            taking_.store(std::numeric_limits<int>::max(), std::memory_order_relaxed);
        }
        joined_.notify_all();
    }

    /// Claims and runs the next job nobody has taken; false when there is none.
    bool RunNext() {
        std::uint64_t index = next_.load(std::memory_order_relaxed);
        for (;;) {
            if (index >= tail_.load(std::memory_order_acquire))
                return false;
            if (next_.compare_exchange_weak(index, index + 1, std::memory_order_relaxed))
                break;
        }
        Slot& slot = SlotOf(index);
        std::uint64_t queued = State(index, kQueued);
        // The owner may have run it already, as the oldest.
        if (!slot.state.compare_exchange_strong(queued, State(index, kTaken),
                                                std::memory_order_acquire))
            return true;
        Run(slot, index);
        if (ownerWaiting_.load(std::memory_order_seq_cst)) {
            { std::lock_guard lock(mutex_); }
            done_.notify_one();
        }
        return true;
    }

    void WakeOne() {
        {
            std::lock_guard lock(mutex_);
            if (sleeping_.load(std::memory_order_relaxed) == 0)
                return;
            sleeping_.fetch_sub(1, std::memory_order_relaxed);
            ++wakeCalls_;
        }
        wake_.notify_one();
    }

    /// Waits a little for a job without sleeping; true when one came. Jobs
    /// come every few microseconds while the caller keeps up, and a thread
    /// put to sleep takes far longer than that to run again (on a virtual
    /// machine, a core that idles may take a hundred): without this the
    /// threads keep falling asleep between jobs and the caller ends up
    /// reading alone. Only one thread at a time waits so, the others sleep;
    /// it yields now and then, so a caller on the same core still runs.
    bool AwaitJob() {
        if (spinning_.exchange(true, std::memory_order_acq_rel))
            return false;
        bool found = false;
        const auto until = std::chrono::steady_clock::now() + kSpin;
        for (unsigned round = 1; !found; ++round) {
            if (next_.load(std::memory_order_relaxed) < tail_.load(std::memory_order_acquire)) {
                found = true;
                break;
            }
            if (stopAsked_.load(std::memory_order_relaxed))
                break;
            if (round % 64 == 0) {
                if (std::chrono::steady_clock::now() >= until)
                    break;
                std::this_thread::yield();
            } else {
                CpuRelax();
            }
        }
        spinning_.store(false, std::memory_order_release);
        return found;
    }

    static void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#elif defined(__aarch64__)
        asm volatile("yield");
#endif
    }

    void WorkLoop(int thread) {
        if (threadStart_)
            threadStart_();
        for (;;) {
            // A stop ends the thread after its current job: what is still
            // queued is left to the caller.
            if (stopAsked_.load(std::memory_order_relaxed))
                return;
            if (thread >= taking_.load(std::memory_order_relaxed)) {
                std::unique_lock lock(mutex_);
                joined_.wait(lock, [&] {
                    return stopping_ || thread < taking_.load(std::memory_order_relaxed);
                });
                if (stopping_)
                    return;
            }
            if (RunNext() || AwaitJob())
                continue;
            std::unique_lock lock(mutex_);
            if (stopping_)
                return;
            sleeping_.fetch_add(1, std::memory_order_seq_cst);
            // A backlog queued before the count went up found no sleeper.
            if (Backlog() >= wakeBacklog_) {
                sleeping_.fetch_sub(1, std::memory_order_relaxed);
                continue;
            }
            wake_.wait(lock, [this] { return stopping_ || wakeCalls_ > 0; });
            if (stopping_)
                return;
            --wakeCalls_;
        }
    }

    Work work_;
    std::function<void()> threadStart_;
    std::vector<Slot> slots_;
    std::size_t wakeBacklog_;
    std::uint64_t head_ = 0;               // oldest job not yet handed back
    std::atomic<std::uint64_t> tail_{0};   // next index to queue
    std::atomic<std::uint64_t> next_{0};   // next index a thread may claim
    // Threads asleep for want of jobs and not yet woken; changed under mutex_.
    std::atomic<int> sleeping_{0};
    int wakeCalls_ = 0;                    // wake-ups not yet taken, under mutex_
    std::atomic<bool> spinning_{false};    // a thread waits awake for a job
    std::atomic<bool> stopAsked_{false};
    std::atomic<bool> ownerWaiting_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    // Threads that do not take jobs yet wait here; taking_ changes under mutex_.
    std::condition_variable joined_;
    std::atomic<int> taking_;
    std::atomic<int> made_{0}; // the threads made, once all are
    std::atomic<unsigned> jobsInRun_{0};
    std::atomic<unsigned> waitingInRun_{0};
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace sorvane
