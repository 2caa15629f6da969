#pragma once
// A DialogService for the window's tests: shows nothing, records every call
// and answers from queues the test fills beforehand.

#include "platform/dialogs.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

namespace sorvane::test {

class FakeDialogs : public platform::DialogService {
public:
    enum class Kind { Message, Folder, OpenFile, SaveFile, Filter, Find, Font, Color, Toolbar };

    /// One call as the window made it. Fields a kind does not use stay default.
    struct Call {
        Kind kind = Kind::Message;
        QWidget* parent = nullptr;
        /// Message title, folder prompt, or file dialog title.
        QString title;
        /// Message text, starting folder (folder and file dialogs), filter, or find text.
        QString text;
        platform::MessageIcon icon = platform::MessageIcon::Information;
        platform::MessageButtons buttons = platform::MessageButtons::Ok;
        /// The button a message box makes Enter press, when it names one.
        std::optional<platform::MessageResult> defaultButton;
        platform::MessageHelp help = platform::MessageHelp::None;
        platform::FileDialogOptions fileOptions;
        platform::FindState find;
        QFont font;
        /// The font dialog's text colour, or the colour dialog's current colour.
        QColor color;
        std::vector<platform::ToolbarButtonState> toolbar;
        /// A folder browser that offers archives and installers too.
        bool archivesToo = false;
    };

    /// Every call, oldest first.
    std::vector<Call> calls;

    /// The answers, taken from the front, one per call of the kind. An empty
    /// queue answers as closing the dialog would: a message box gives Ok when it
    /// has only Ok, No for Yes/No, otherwise Cancel; the others cancel.
    std::deque<platform::MessageResult> messageAnswers;
    std::deque<std::optional<QString>> folders;
    std::deque<std::optional<QString>> openFiles;
    std::deque<std::optional<QString>> saveFiles;
    std::deque<std::optional<QString>> filters;
    /// A state is what the user entered (ShowFindBox answers true); nullopt cancels.
    std::deque<std::optional<platform::FindState>> findAnswers;
    std::deque<std::optional<QFont>> fonts;
    std::deque<std::optional<QColor>> colors;
    std::deque<std::optional<std::vector<platform::ToolbarButtonState>>> toolbars;

    /// How many calls of `kind` were made.
    std::size_t Count(Kind kind) const;
    /// The latest call of `kind`; fails the test (and returns an empty call)
    /// when there was none.
    const Call& Last(Kind kind) const;

    /// What the Help button of a message box would do.
    void PressHelp() const {
        if (showHelp_)
            showHelp_();
    }

    platform::MessageResult ShowMessage(QWidget* parent, const QString& title, const QString& text,
                                        platform::MessageIcon icon,
                                        platform::MessageButtons buttons,
                                        std::optional<platform::MessageResult> defaultButton = {},
                                        platform::MessageHelp help = platform::MessageHelp::None) override;
    std::optional<QString> BrowseForFolder(QWidget* parent, const QString& prompt,
                                           const QString& startFolder) override;
    /// Recorded as a Folder call with `archivesToo` set; answered from `folders`.
    std::optional<QString> BrowseForFolderOrArchive(QWidget* parent, const QString& prompt,
                                                    const QString& startPath) override;
    std::optional<QString> OpenFileName(QWidget* parent,
                                        const platform::FileDialogOptions& options) override;
    std::optional<QString> SaveFileName(QWidget* parent,
                                        const platform::FileDialogOptions& options) override;
    std::optional<QString> EditFilter(QWidget* parent, const QString& filter) override;
    bool ShowFindBox(QWidget* parent, platform::FindState& state) override;
    std::optional<QFont> ChooseFont(QWidget* parent, const QFont& current,
                                    const QColor& textColor) override;
    std::optional<QColor> ChooseColor(QWidget* parent, const QColor& current,
                                      const QString& title = {}) override;
    std::optional<std::vector<platform::ToolbarButtonState>>
    CustomizeToolbar(QWidget* parent,
                     const std::vector<platform::ToolbarButtonState>& buttons) override;

private:
    Call& Record(Kind kind, QWidget* parent);
};

} // namespace sorvane::test
