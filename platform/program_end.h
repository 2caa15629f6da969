#pragma once
// Ends the program with its main window. The program quits once that window
// has closed, whatever other windows (the help) are still open, and the
// system's requests to end (SIGTERM, SIGINT, SIGHUP) close the window as
// the user would, so its settings are written back, whether it is shown,
// minimised or hidden by a command from another program.

#include <QObject>

class QSocketNotifier;
class QWidget;

namespace sorvane::platform {

class ProgramEnd : public QObject {
    Q_OBJECT
public:
    /// Watches `window` from now on; one per program, made after the
    /// application object. A signal that the program was started to ignore
    /// (SIGHUP under nohup) stays ignored. Once this object is gone (the
    /// program tears down), a request ends the program at once.
    explicit ProgramEnd(QWidget& window);
    ~ProgramEnd() override;
    ProgramEnd(const ProgramEnd&) = delete;
    ProgramEnd& operator=(const ProgramEnd&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnSignal();

    QWidget& window_;
    QSocketNotifier* notifier_ = nullptr;
    bool closed_ = false; ///< the window had its close event: it is not closed again
};

} // namespace sorvane::platform
