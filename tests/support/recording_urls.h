#pragma once
// A UrlOpener that records the addresses it is asked to open and opens none.

#include "platform/url_opener.h"

#include <QUrl>
#include <vector>

namespace sorvane::test {

class RecordingUrls : public platform::UrlOpener {
public:
    void Open(const QUrl& url) override { opened.push_back(url); }
    std::vector<QUrl> opened;
};

} // namespace sorvane::test
