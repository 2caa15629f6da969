#pragma once
// Every dialog and message box of the program goes through DialogService,
// so the window never calls Qt dialogs directly and tests answer them
// without a person and without blocking.

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class QWidget;

namespace sorvane {
class SettingsDocument;
}

namespace sorvane::platform {

enum class MessageIcon { Information, Warning, Critical, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageResult { Ok, Cancel, Yes, No };
enum class MessageHelp { None, Button };

/// The answer of a message box closed without a button (Esc or the window's
/// close button): the most cautious button it offers.
MessageResult ClosedMessageResult(MessageButtons buttons);

struct FileDialogOptions {
    QString title;           ///< without "&"
    QString filter;          ///< Qt form: "Map Files (*.map);;All files (*)"
    QString defaultSuffix;   ///< "map"
    QString startFolder;
    bool confirmOverwrite = true; ///< save dialogs: ask before replacing a file
};

/// The state of the find box, kept between uses and in the settings file.
struct FindState {
    enum Option : int { kWholeWord = 1, kMatchCase = 2, kSearchUp = 8 };
    QString text;
    int options = 0;

    /// Reads the state from `section` of the settings (missing keys keep
    /// the defaults); writes it back. The forms that take a file name read
    /// the file once, and Save writes it once.
    void Load(const SettingsDocument& settings, const std::string& section);
    void Save(SettingsDocument& settings, const std::string& section) const;
    void Load(const std::string& settingsFile, const std::string& section);
    void Save(const std::string& settingsFile, const std::string& section) const;
};

/// One button of the main tool bar in the customise dialog.
struct ToolbarButtonState {
    QString key;          ///< "Scan", "Stop", ...
    QString description;  ///< text shown in the dialog
    bool visible = true;
};

/// The filter box's choices of the browser for a folder or an archive.
inline constexpr const char* kAllFilesFilter = "All files (*)";
inline constexpr const char* kArchiveFilter =
    "Archives and installers (*.zip *.nupkg *.jar *.vsix *.appx *.7z *.tar *.tar.gz *.tgz "
    "*.tar.bz2 *.tbz2 *.tar.xz *.txz *.tar.zst *.tzst *.cab *.iso *.msi)";

class DialogService {
public:
    virtual ~DialogService() = default;

    /// What a message box's Help button does.
    void SetHelp(std::function<void()> showHelp) { showHelp_ = std::move(showHelp); }

    /// Whether one of this service's dialogs or message boxes is open: they
    /// all wait for the user, even those the desktop draws itself, which Qt
    /// may not count as modal widgets.
    bool IsShowing() const { return showing_ > 0; }

    /// A message box titled `title` with the program's icon. `defaultButton`
    /// is the button Enter presses (the first one when not given). With
    /// `help`, a Help button opens the help (see SetHelp) and leaves the box open.
    virtual MessageResult ShowMessage(QWidget* parent, const QString& title, const QString& text,
                                      MessageIcon icon, MessageButtons buttons,
                                      std::optional<MessageResult> defaultButton = {},
                                      MessageHelp help = MessageHelp::None) = 0;
    /// Lets the user pick a folder (new folders can be created); nothing on cancel.
    virtual std::optional<QString> BrowseForFolder(QWidget* parent, const QString& prompt,
                                                   const QString& startFolder) = 0;
    /// Lets the user pick a folder, or an archive or installer (its filter
    /// box shows those first, kArchiveFilter): a folder is picked by opening
    /// it with it selected or its name typed, and entered by a double click.
    virtual std::optional<QString> BrowseForFolderOrArchive(QWidget* parent, const QString& prompt,
                                                            const QString& startPath) = 0;
    virtual std::optional<QString> OpenFileName(QWidget* parent,
                                                const FileDialogOptions& options) = 0;
    virtual std::optional<QString> SaveFileName(QWidget* parent,
                                                const FileDialogOptions& options) = 0;
    /// The filter editor: patterns separated by ";" or blanks; nothing on cancel.
    virtual std::optional<QString> EditFilter(QWidget* parent, const QString& filter) = 0;
    /// The find box; true when the user asks to search (`state` then holds
    /// the text and options), false on cancel.
    virtual bool ShowFindBox(QWidget* parent, FindState& state) = 0;
    virtual std::optional<QFont> ChooseFont(QWidget* parent, const QFont& current,
                                            const QColor& textColor) = 0;
    /// The colour dialog titled `title`, starting at `current`; nothing on cancel.
    virtual std::optional<QColor> ChooseColor(QWidget* parent, const QColor& current,
                                              const QString& title = {}) = 0;
    /// Which buttons the main tool bar shows, and in which order.
    virtual std::optional<std::vector<ToolbarButtonState>>
    CustomizeToolbar(QWidget* parent, const std::vector<ToolbarButtonState>& buttons) = 0;

protected:
    /// Counts one dialog of the service as open for as long as it lives.
    class ShowingScope {
    public:
        explicit ShowingScope(DialogService& service) : service_(service) { ++service_.showing_; }
        ~ShowingScope() { --service_.showing_; }
        ShowingScope(const ShowingScope&) = delete;
        ShowingScope& operator=(const ShowingScope&) = delete;

    private:
        DialogService& service_;
    };

    std::function<void()> showHelp_;

private:
    int showing_ = 0;
};

/// Whether the user is in the middle of something that waits for an answer:
/// a dialog of `dialogs`, any modal window of the program (the About box, a
/// property sheet) or an open pop-up menu. Commands from other programs are
/// not run into it.
bool WaitsForUser(const DialogService& dialogs);

/// The real dialogs.
class QtDialogService final : public DialogService {
public:
    MessageResult ShowMessage(QWidget* parent, const QString& title, const QString& text,
                              MessageIcon icon, MessageButtons buttons,
                              std::optional<MessageResult> defaultButton = {},
                              MessageHelp help = MessageHelp::None) override;
    std::optional<QString> BrowseForFolder(QWidget* parent, const QString& prompt,
                                           const QString& startFolder) override;
    std::optional<QString> BrowseForFolderOrArchive(QWidget* parent, const QString& prompt,
                                                    const QString& startPath) override;
    std::optional<QString> OpenFileName(QWidget* parent, const FileDialogOptions& options) override;
    std::optional<QString> SaveFileName(QWidget* parent, const FileDialogOptions& options) override;
    std::optional<QString> EditFilter(QWidget* parent, const QString& filter) override;
    bool ShowFindBox(QWidget* parent, FindState& state) override;
    std::optional<QFont> ChooseFont(QWidget* parent, const QFont& current,
                                    const QColor& textColor) override;
    std::optional<QColor> ChooseColor(QWidget* parent, const QColor& current,
                                      const QString& title = {}) override;
    std::optional<std::vector<ToolbarButtonState>>
    CustomizeToolbar(QWidget* parent, const std::vector<ToolbarButtonState>& buttons) override;
};

} // namespace sorvane::platform
