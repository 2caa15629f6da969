#include "support/fake_dialogs.h"

#include <gtest/gtest.h>

namespace sorvane::test {
namespace {

using platform::MessageButtons;
using platform::MessageResult;

// The next queued answer; nothing (cancel) when the queue is empty.
template <typename T> std::optional<T> TakeFront(std::deque<std::optional<T>>& queue) {
    std::optional<T> answer;
    if (!queue.empty()) {
        if (queue.front().has_value())
            answer.emplace(*queue.front());
        queue.pop_front();
    }
    return answer;
}


} // namespace

std::size_t FakeDialogs::Count(Kind kind) const {
    std::size_t n = 0;
    for (const Call& call : calls)
        n += call.kind == kind ? 1 : 0;
    return n;
}

const FakeDialogs::Call& FakeDialogs::Last(Kind kind) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
        if (it->kind == kind)
            return *it;
    }
    ADD_FAILURE() << "no dialog of kind " << static_cast<int>(kind) << " was shown";
    static const Call none;
    return none;
}

FakeDialogs::Call& FakeDialogs::Record(Kind kind, QWidget* parent) {
    Call& call = calls.emplace_back();
    call.kind = kind;
    call.parent = parent;
    return call;
}

MessageResult FakeDialogs::ShowMessage(QWidget* parent, const QString& title, const QString& text,
                                       platform::MessageIcon icon, MessageButtons buttons,
                                       std::optional<MessageResult> defaultButton,
                                       platform::MessageHelp help) {
    Call& call = Record(Kind::Message, parent);
    call.defaultButton = defaultButton;
    call.help = help;
    call.title = title;
    call.text = text;
    call.icon = icon;
    call.buttons = buttons;
    if (messageAnswers.empty())
        return platform::ClosedMessageResult(buttons);
    const MessageResult answer = messageAnswers.front();
    messageAnswers.pop_front();
    return answer;
}

std::optional<QString> FakeDialogs::BrowseForFolder(QWidget* parent, const QString& prompt,
                                                    const QString& startFolder) {
    Call& call = Record(Kind::Folder, parent);
    call.title = prompt;
    call.text = startFolder;
    return TakeFront(folders);
}

std::optional<QString> FakeDialogs::BrowseForFolderOrArchive(QWidget* parent,
                                                             const QString& prompt,
                                                             const QString& startPath) {
    Call& call = Record(Kind::Folder, parent);
    call.title = prompt;
    call.text = startPath;
    call.archivesToo = true;
    return TakeFront(folders);
}

std::optional<QString> FakeDialogs::OpenFileName(QWidget* parent,
                                                 const platform::FileDialogOptions& options) {
    Call& call = Record(Kind::OpenFile, parent);
    call.title = options.title;
    call.text = options.startFolder;
    call.fileOptions = options;
    return TakeFront(openFiles);
}

std::optional<QString> FakeDialogs::SaveFileName(QWidget* parent,
                                                 const platform::FileDialogOptions& options) {
    Call& call = Record(Kind::SaveFile, parent);
    call.title = options.title;
    call.text = options.startFolder;
    call.fileOptions = options;
    return TakeFront(saveFiles);
}

std::optional<QString> FakeDialogs::EditFilter(QWidget* parent, const QString& filter) {
    Record(Kind::Filter, parent).text = filter;
    return TakeFront(filters);
}

bool FakeDialogs::ShowFindBox(QWidget* parent, platform::FindState& state) {
    Call& call = Record(Kind::Find, parent);
    call.text = state.text;
    call.find = state;
    const std::optional<platform::FindState> answer = TakeFront(findAnswers);
    if (!answer)
        return false;
    state = *answer;
    return true;
}

std::optional<QFont> FakeDialogs::ChooseFont(QWidget* parent, const QFont& current,
                                             const QColor& textColor) {
    Call& call = Record(Kind::Font, parent);
    call.font = current;
    call.color = textColor;
    return TakeFront(fonts);
}

std::optional<QColor> FakeDialogs::ChooseColor(QWidget* parent, const QColor& current,
                                                const QString& title) {
    Call& call = Record(Kind::Color, parent);
    call.color = current;
    call.title = title;
    return TakeFront(colors);
}

std::optional<std::vector<platform::ToolbarButtonState>>
FakeDialogs::CustomizeToolbar(QWidget* parent,
                              const std::vector<platform::ToolbarButtonState>& buttons) {
    Record(Kind::Toolbar, parent).toolbar = buttons;
    return TakeFront(toolbars);
}

} // namespace sorvane::test
