#pragma once
// A scan as the window runs it: started from the path boxes, followed in the
// grid and the status bar while it runs, stopped by Esc, and ended with the
// rows sorted and what could not be read listed on request.

#include "engine/scan/scan_driver.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <vector>

namespace sorvane::shell {

struct WindowContext;
class ViewCommands;

class ScanSession : public QObject {
    Q_OBJECT
public:
    ScanSession(WindowContext& window, ViewCommands& view, QObject* parent);

    void mFileScan_Click();
    /// Asks a running scan or copy to stop (Stop button, Esc).
    void RequestStop();
    /// A click on a panel of the status bar: on panel 2, when the last scan
    /// met entries it could not read, a message box lists them.
    void pbStatusBar_PanelClick(int panel);
    /// What the last scan could not read; panel 2 says how many there were.
    const std::vector<UnreadableEntry>& Unreadable() const { return unreadable_; }

signals:
    /// A scan ended and its rows are sorted and shown.
    void ScanFinished();

private:
    void OnScanUpdated();
    void OnScanFinished();
    /// Keeps what the last scan could not read and lets a click on panel 2 list it.
    void ShowUnreadable(std::vector<UnreadableEntry> entries);
    void SetCaption(const QString& text);

    WindowContext& window_;
    ViewCommands& view_;
    std::int64_t rowsAdded_ = 0;
    std::vector<UnreadableEntry> unreadable_;
    QPointer<QWidget> focusBeforeScan_;
};

} // namespace sorvane::shell
