#include "platform/clipboard.h"

#include "engine/text/text_utils.h"

#include <filesystem>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <system_error>

namespace sorvane::platform {

bool QtClipboardService::SetMimeData(std::unique_ptr<QMimeData> data) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr || data == nullptr)
        return false;
    const QMimeData* handed = data.get();
    clipboard->setMimeData(data.release());
    // The clipboard hands back our own data only while it holds it: when
    // another program kept the selection, it answers with that program's.
    return clipboard->mimeData() == handed;
}

QByteArray FileUrl(std::string_view path) {
    std::string absolute(path);
    if (absolute.empty() || absolute.front() != '/') {
        std::error_code error;
        std::string here = std::filesystem::current_path(error).native();
        if (!here.empty() && here.back() != '/')
            here += '/';
        absolute = here + absolute;
    }
    // Built from the bytes, not through QUrl: QString cannot hold a name
    // that is not UTF-8.
    return QByteArrayLiteral("file://") +
           QByteArray(absolute.data(), static_cast<qsizetype>(absolute.size()))
               .toPercentEncoding("/");
}

std::unique_ptr<QMimeData> TextMimeData(std::string_view text) {
    auto data = std::make_unique<QMimeData>();
    data->setData(QStringLiteral("text/plain"),
                  QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    return data;
}

std::unique_ptr<QMimeData> FileListMimeData(const std::vector<std::string>& paths) {
    QByteArray uriList;
    QByteArray copied = QByteArrayLiteral("copy");
    QByteArray text;
    for (const std::string& path : paths) {
        if (!IsOneLineUtf8(path))
            continue;
        const QByteArray url = FileUrl(path);
        uriList += url + "\r\n";
        copied += '\n' + url;
        if (!text.isEmpty())
            text += '\n';
        text += QByteArray(path.data(), static_cast<qsizetype>(path.size()));
    }
    auto data = std::make_unique<QMimeData>();
    data->setData(QStringLiteral("text/uri-list"), uriList);
    data->setData(QStringLiteral("x-special/gnome-copied-files"), copied);
    data->setData(QStringLiteral("text/plain"), text);
    return data;
}

std::unique_ptr<QMimeData> FileListMimeData(const std::vector<std::string>& paths,
                                            std::string_view text) {
    auto data = FileListMimeData(paths);
    data->setData(QStringLiteral("text/plain"),
                  QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    return data;
}

bool PutTextOnClipboard(ClipboardService& clipboard, std::string_view text) {
    return clipboard.SetMimeData(TextMimeData(text));
}

bool PutFileListOnClipboard(ClipboardService& clipboard, const std::vector<std::string>& paths) {
    return clipboard.SetMimeData(FileListMimeData(paths));
}

bool PutFileListOnClipboard(ClipboardService& clipboard, const std::vector<std::string>& paths,
                            std::string_view text) {
    return clipboard.SetMimeData(FileListMimeData(paths, text));
}

} // namespace sorvane::platform
