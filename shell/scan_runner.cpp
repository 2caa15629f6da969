#include "shell/scan_runner.h"

#include <QMetaObject>

#include <new>
#include <sys/resource.h>
#include <unistd.h>
#include <system_error>

namespace sorvane::shell {
namespace {

// The scan's thread and the reader threads it starts (they inherit it) give
// way to the window's thread, which then answers input at once however busy
// the readers keep the processors. Only ever for a thread made for the scan:
// a thread cannot raise its priority again.
void LowerThreadPriority() {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 5);
}

} // namespace

// Runs on the worker thread; only touches the shared state under the lock.
class ScanRunner::Observer : public ScanObserver {
public:
    explicit Observer(ScanRunner& runner) : runner_(runner) {}

    void PathsChanged(const std::string& source, const std::string& target) override {
        std::lock_guard lock(runner_.mutex_);
        runner_.paths_ = std::make_pair(source, target);
        runner_.changed_ = true;
    }
    void RowAdded(ComparisonRow row) override {
        std::lock_guard lock(runner_.mutex_);
        runner_.pending_.push_back(std::move(row));
        runner_.changed_ = true;
    }
    void Progress(const ScanProgress& progress) override {
        std::lock_guard lock(runner_.mutex_);
        runner_.progress_ = progress;
        runner_.changed_ = true;
    }
    void FolderChanged(const std::string& folder) override {
        std::lock_guard lock(runner_.mutex_);
        runner_.folder_ = folder;
        runner_.changed_ = true;
    }

private:
    ScanRunner& runner_;
};

ScanRunner::ScanRunner(QObject* parent) : QObject(parent) {
    tick_.setInterval(40);
    connect(&tick_, &QTimer::timeout, this, [this] {
        bool changed;
        {
            std::lock_guard lock(mutex_);
            changed = std::exchange(changed_, false);
        }
        if (changed)
            emit Updated();
    });
}

ScanRunner::~ScanRunner() {
    if (worker_.joinable()) {
        scanner_.RequestStop();
        worker_.join();
    }
}

void ScanRunner::Start(const ScanRequest& request) {
    if (running_)
        return;
    if (worker_.joinable())
        worker_.join();
    {
        std::lock_guard lock(mutex_);
        pending_.clear();
        progress_ = {};
        folder_.clear();
        paths_.reset();
        changed_ = false;
    }
    running_ = true;
    // From here on a stop counts for this scan, even before the worker
    // thread reaches its first file; an older one is dropped.
    scanner_.Arm();
    tick_.start();
    const auto scan = [this, request] {
        Observer observer(*this);
        ScanOutcome outcome = scanner_.Run(request, observer);
        const auto ended = std::chrono::steady_clock::now();
        QMetaObject::invokeMethod(
            this,
            [this, outcome = std::move(outcome), ended]() mutable {
                outcome_ = std::move(outcome);
                workerEnded_ = ended;
                OnWorkerDone();
            },
            Qt::QueuedConnection);
    };
    try {
        worker_ = std::jthread([scan] {
            LowerThreadPriority();
            scan();
        });
    } catch (const std::system_error&) {
        // No thread to be had (a process limit, no memory for a stack): the
        // scan runs here, and the window waits for it without progress.
        scan();
    } catch (const std::bad_alloc&) {
        scan();
    }
}

void ScanRunner::OnWorkerDone() {
    if (worker_.joinable())
        worker_.join();
    tick_.stop();
    running_ = false;
    emit Updated(); // the last rows and the final progress
    emit Finished();
}

std::vector<ComparisonRow> ScanRunner::TakeRows() {
    std::lock_guard lock(mutex_);
    return std::exchange(pending_, {});
}

ScanProgress ScanRunner::Progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
}

std::string ScanRunner::Folder() const {
    std::lock_guard lock(mutex_);
    return folder_;
}

std::optional<std::pair<std::string, std::string>> ScanRunner::Paths() const {
    std::lock_guard lock(mutex_);
    return paths_;
}

} // namespace sorvane::shell
