#include "platform/url_opener.h"

#include <QDesktopServices>

namespace sorvane::platform {

void DesktopUrlOpener::Open(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

} // namespace sorvane::platform
