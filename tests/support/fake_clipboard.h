#pragma once
// A ClipboardService for tests: keeps what the program put there, so a test
// reads each format back, and refuses the data when told to.

#include "platform/clipboard.h"

#include <memory>
#include <QMimeData>

namespace sorvane::test {

class FakeClipboard : public platform::ClipboardService {
public:
    /// The data of the last accepted put; null before the first one.
    std::unique_ptr<QMimeData> data;
    /// Every put, refused ones included.
    int puts = 0;
    /// Refuses the data, as a clipboard another program holds would; what
    /// was there stays.
    bool refuse = false;

    bool SetMimeData(std::unique_ptr<QMimeData> mime) override {
        ++puts;
        if (refuse)
            return false;
        data = std::move(mime);
        return true;
    }

    /// The bytes of `format` in the last accepted put; empty when none.
    QByteArray Format(const QString& format) const {
        return data != nullptr ? data->data(format) : QByteArray();
    }
};

} // namespace sorvane::test
