#pragma once
// Web and mail links go through UrlOpener, so the window never starts a
// browser or a mail program by itself and tests see the address instead.

#include <QUrl>

namespace sorvane::platform {

class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    /// Hands `url` to the desktop's handler for its scheme (a browser for
    /// https, the mail program for mailto). A failure is not reported.
    virtual void Open(const QUrl& url) = 0;
};

/// The desktop's own handlers (QDesktopServices).
class DesktopUrlOpener final : public UrlOpener {
public:
    void Open(const QUrl& url) override;
};

} // namespace sorvane::platform
