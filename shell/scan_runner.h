#pragma once
// Runs a scan on a worker thread and hands its results to the window thread
// in batches, so a scan of 100,000 files never floods or freezes the window.

#include "engine/scan/scan_driver.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace sorvane::shell {

class ScanRunner : public QObject {
    Q_OBJECT
public:
    explicit ScanRunner(QObject* parent = nullptr);
    /// Stops a running scan and waits for it.
    ~ScanRunner() override;

    bool IsRunning() const { return running_; }
    /// Starts a scan; does nothing while one runs. When no thread can be
    /// made the scan runs at once on this thread, and Finished still comes
    /// through the event loop.
    void Start(const ScanRequest& request);
    /// Asks the scan to stop after the current file; a request made while no
    /// scan runs is dropped when the next one starts.
    void RequestStop() { scanner_.RequestStop(); }
    bool StopRequested() const { return scanner_.StopRequested(); }

    /// The rows found since the last call.
    std::vector<ComparisonRow> TakeRows();
    ScanProgress Progress() const;
    std::string Folder() const;
    /// The normalised paths once the scan reported them.
    std::optional<std::pair<std::string, std::string>> Paths() const;
    /// How the last scan ended (valid after Finished).
    const ScanOutcome& Outcome() const { return outcome_; }
    /// When the worker thread finished the last scan (valid after Finished):
    /// what the window does after it is the wait the user sees at the end.
    std::chrono::steady_clock::time_point WorkerEnded() const { return workerEnded_; }

signals:
    /// New rows, progress or paths are waiting (at most every 40 ms).
    void Updated();
    /// The scan ended; every row has been handed over before this.
    void Finished();

private:
    class Observer;
    void OnWorkerDone();

    Scanner scanner_;
    std::jthread worker_;
    bool running_ = false;
    QTimer tick_;
    ScanOutcome outcome_;
    std::chrono::steady_clock::time_point workerEnded_;

    mutable std::mutex mutex_;
    std::vector<ComparisonRow> pending_;
    ScanProgress progress_;
    std::string folder_;
    std::optional<std::pair<std::string, std::string>> paths_;
    bool changed_ = false;
};

} // namespace sorvane::shell
