#pragma once
// The system clipboard behind ClipboardService, so the window never calls
// QClipboard itself and tests read what was put there; and the two forms the
// program puts there: plain text, and a list of files that both file
// managers and text fields accept.

#include <memory>
#include <QByteArray>
#include <string>
#include <string_view>
#include <vector>

class QMimeData;

namespace sorvane::platform {

class ClipboardService {
public:
    virtual ~ClipboardService() = default;
    /// Replaces everything the clipboard holds with `data`. False when the
    /// clipboard did not take it (no clipboard, or another program kept it).
    virtual bool SetMimeData(std::unique_ptr<QMimeData> data) = 0;
};

/// The clipboard of the running application (QGuiApplication::clipboard()).
class QtClipboardService final : public ClipboardService {
public:
    bool SetMimeData(std::unique_ptr<QMimeData> data) override;
};

/// The "file:" URL of `path` as bytes: every byte but letters, digits,
/// "-._~" and "/" percent-encoded, so any file name survives, UTF-8 or not.
/// A relative path is taken from the current folder.
QByteArray FileUrl(std::string_view path);

/// Plain text ("text/plain"), the bytes as given: names that are not UTF-8
/// reach a shell unchanged.
std::unique_ptr<QMimeData> TextMimeData(std::string_view text);

/// A list of files in the forms file managers and text fields read:
/// "text/uri-list" (one URL a line, each ending with CR LF),
/// "x-special/gnome-copied-files" ("copy", then one URL a line) and
/// "text/plain" (the paths, one a line, no line end after the last). A path
/// that is not UTF-8 or holds a line break is left out of all three: as text
/// it would read as another name, or as two.
std::unique_ptr<QMimeData> FileListMimeData(const std::vector<std::string>& paths);
/// The same list with `text` as its "text/plain": a special list keeps its
/// own text (a line end after each path), the one its saved file holds.
std::unique_ptr<QMimeData> FileListMimeData(const std::vector<std::string>& paths,
                                            std::string_view text);

/// Puts `text` on the clipboard, replacing whatever it held. False when the
/// clipboard did not take it.
bool PutTextOnClipboard(ClipboardService& clipboard, std::string_view text);

/// Puts the list of full paths on the clipboard as files to paste (and as
/// their paths in text), replacing whatever it held. False when the clipboard
/// did not take it.
bool PutFileListOnClipboard(ClipboardService& clipboard, const std::vector<std::string>& paths);
/// The same with `text` as the text form (FileListMimeData with a text).
bool PutFileListOnClipboard(ClipboardService& clipboard, const std::vector<std::string>& paths,
                            std::string_view text);

} // namespace sorvane::platform
