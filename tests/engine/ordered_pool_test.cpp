#include "engine/scan/ordered_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace sorvane {
namespace {

// Feeds `jobs` numbers through a pool the way the scan does (push while
// there is room, else take the oldest) and gives back what came out.
std::vector<std::pair<int, long>> RunAll(OrderedPool<int, long>& pool, int jobs) {
    std::vector<std::pair<int, long>> out;
    for (int i = 0; i < jobs; ++i) {
        while (pool.Full())
            out.push_back(pool.PopOldest());
        pool.Push(i);
    }
    while (!pool.Empty())
        out.push_back(pool.PopOldest());
    return out;
}

TEST(OrderedPool, GivesEveryResultInTheOrderTheJobsCameIn) {
    struct Row {
        int threads;
        std::size_t capacity;
        int jobs;
    };
    const Row rows[] = {
        {0, 1, 50},    // no threads: the caller does everything
        {1, 1, 200},   // one slot: a strict hand-over
        {2, 8, 3000},  {4, 128, 5000},
        {8, 3, 2000},  // more threads than slots
        {3, 64, 0},    // nothing to do
    };
    for (const auto& row : rows) {
        std::atomic<int> running{0}, mostAtOnce{0};
        std::set<std::thread::id> threadsSeen, threadsStarted;
        std::mutex seenMutex;
        const auto started = [&] {
            std::lock_guard lock(seenMutex);
            EXPECT_TRUE(threadsStarted.insert(std::this_thread::get_id()).second);
        };
        OrderedPool<int, long> pool(row.threads, row.capacity, [&](const int& job) {
            const int now = ++running;
            int seen = mostAtOnce.load();
            while (now > seen && !mostAtOnce.compare_exchange_weak(seen, now))
                ;
            {
                std::lock_guard lock(seenMutex);
                threadsSeen.insert(std::this_thread::get_id());
            }
            // Uneven work, so later jobs often finish before earlier ones.
            if (job % 7 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            --running;
            return static_cast<long>(job) * job;
        }, -1, started);
        EXPECT_EQ(pool.Threads(), row.threads);
        const auto out = RunAll(pool, row.jobs);
        ASSERT_EQ(out.size(), static_cast<std::size_t>(row.jobs)) << row.threads;
        for (int i = 0; i < row.jobs; ++i) {
            EXPECT_EQ(out[i].first, i) << row.threads << " threads, job " << i;
            EXPECT_EQ(out[i].second, static_cast<long>(i) * i);
        }
        if (row.threads == 0) {
            EXPECT_LE(threadsSeen.size(), 1u); // only the caller
        }
        // Each thread ran its start once, and only threads that did ran jobs.
        pool.Stop();
        EXPECT_EQ(threadsStarted.size(), static_cast<std::size_t>(row.threads));
        EXPECT_EQ(threadsStarted.count(std::this_thread::get_id()), 0u);
        for (const auto& id : threadsSeen)
            EXPECT_TRUE(id == std::this_thread::get_id() || threadsStarted.count(id) == 1);
        EXPECT_LE(mostAtOnce.load(), row.threads + 1);
    }
}

TEST(OrderedPool, ThreadsLeftOutAtFirstJoinOnlyWhenJobsWait) {
    // Jobs that compute keep to the threads taking at first (and the
    // caller); jobs that wait bring in the rest.
    struct Row {
        const char* what;
        int threads;
        int takingAtFirst;
        std::chrono::microseconds jobTime;
        int takingAfter;
        std::size_t threadsFrom, threadsTo; ///< threads that ran jobs, the caller's too
    };
    using std::chrono::microseconds;
    const Row rows[] = {
        {"computing, one taking", 4, 1, microseconds(0), 1, 1, 2},
        {"computing, two taking", 4, 2, microseconds(0), 2, 1, 3},
        {"waiting, one taking", 4, 1, microseconds(400), 4, 3, 5},
        {"all taking from the start", 3, -1, microseconds(0), 3, 1, 4},
        {"taking more than there are", 2, 5, microseconds(0), 2, 1, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        // Counted without a lock, which could hold a job up long enough to
        // look like waiting.
        const int rowIndex = static_cast<int>(&row - rows);
        std::atomic<std::size_t> threadsSeen{0};
        OrderedPool<int, long> pool(
            row.threads, static_cast<std::size_t>(row.threads) * 32,
            [&](const int& job) {
                thread_local int countedFor = -1;
                if (countedFor != rowIndex) {
                    countedFor = rowIndex;
                    ++threadsSeen;
                }
                if (row.jobTime.count() > 0)
                    std::this_thread::sleep_for(row.jobTime);
                return static_cast<long>(job);
            },
            row.takingAtFirst);
        const auto out = RunAll(pool, row.jobTime.count() > 0 ? 600 : 20000);
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.back().second, static_cast<long>(out.size()) - 1);
        EXPECT_EQ(pool.Taking(), row.takingAfter);
        EXPECT_GE(threadsSeen.load(), row.threadsFrom);
        EXPECT_LE(threadsSeen.load(), row.threadsTo);
    }
}

TEST(OrderedPool, StopWaitsOnlyForTheJobsBeingRunAndLeavesTheQueueToTheCaller) {
    // One thread holds job 0 while nine more wait; once stopped, the thread
    // takes none of them, and each is run once, by the caller.
    std::atomic<bool> release{false};
    std::atomic<int> started{0};
    std::mutex mutex;
    std::map<int, std::thread::id> ranBy;
    OrderedPool<int, int> pool(1, 16, [&](const int& job) {
        {
            std::lock_guard lock(mutex);
            ranBy[job] = std::this_thread::get_id();
        }
        if (job == 0) {
            ++started;
            while (!release.load())
                std::this_thread::yield();
        }
        return job;
    });
    for (int i = 0; i < 10; ++i)
        pool.Push(i);
    while (started.load() == 0)
        std::this_thread::yield();
    std::thread stopper([&] { pool.Stop(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the stop is asked by now
    release.store(true);
    stopper.join();
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(ranBy.size(), 1u); // only the job it held
    }
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(pool.PopOldest().second, i);
    const auto caller = std::this_thread::get_id();
    for (int i = 1; i < 10; ++i)
        EXPECT_EQ(ranBy.at(i), caller) << i;
}

TEST(OrderedPool, AfterStopTheCallerRunsWhatIsLeftAndErrorsReachTheCaller) {
    std::atomic<int> runs{0};
    OrderedPool<int, int> pool(3, 11, [&](const int& job) {
        ++runs;
        if (job == 13)
            throw std::runtime_error("job 13");
        return job + 1;
    });
    for (int i = 0; i < 10; ++i)
        pool.Push(i);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(pool.PopOldest().second, i + 1);
    pool.Stop();
    EXPECT_EQ(pool.Threads(), 0);
    for (int i = 10; i < 16; ++i)
        pool.Push(i);
    EXPECT_TRUE(pool.Full());
    for (int i = 5; i < 13; ++i)
        EXPECT_EQ(pool.PopOldest().second, i + 1);
    EXPECT_THROW(pool.PopOldest(), std::runtime_error);
    EXPECT_EQ(pool.PopOldest().second, 15);
    EXPECT_EQ(pool.PopOldest().second, 16);
    EXPECT_TRUE(pool.Empty());
    EXPECT_EQ(runs.load(), 16); // each job once
}

} // namespace
} // namespace sorvane
