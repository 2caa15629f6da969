#pragma once
// The Edit menu's commands: the text commands of the focused box, the
// current row's path and the special lists on the clipboard, and Find.

#include "view/grid_find.h"

#include <QObject>

#include <memory>

class QLineEdit;

namespace sorvane::platform {
class ClipboardService;
}

namespace sorvane::shell {

struct WindowContext;

class EditCommands : public QObject {
    Q_OBJECT
public:
    /// `clipboard` is not owned; the system clipboard when null.
    EditCommands(WindowContext& window, platform::ClipboardService* clipboard, QObject* parent);
    ~EditCommands() override;

    /// The Edit menu opens: the text commands follow the focused text box,
    /// Copy in the grid copies the current row's path.
    void mEdit_Click();
    /// Undo, Cut, Paste and Delete act on the focused text box.
    void EditText(void (QLineEdit::*command)());
    /// In a text box Copy copies the selected text; in the grid the current row's path.
    void mEditCopy_Click();
    void mEditFind_Click();
    void mEditFindNext_Click();
    /// Puts special list `index` (a category) on the clipboard as text.
    void mEditCopySpecialList_Click(int index);
    /// Asks for a file name and writes special list `index` to it; a file
    /// that cannot be written is left as it was and a message says why.
    void mEditSaveSpecialList_Click(int index);
    /// Copies the current row's source path (Ctrl+C in the grid).
    void fgFiles_CopyPath();
    /// Enables Find, and Find Next after a search that found a row.
    void UpdateFindItems();

private:
    /// Enables each special list whose category the last scan counted.
    void UpdateSpecialListItems();
    /// The path box or search box that has the focus, as the line edit its
    /// text is edited in; null when the focus is elsewhere.
    QLineEdit* FocusedTextBox() const;
    /// The find box's options as the grid search takes them.
    view::FindOptions FindBoxOptions() const;
    /// The clipboard of the options, else the system's (made at first use).
    platform::ClipboardService& Clipboard();

    WindowContext& window_;
    platform::ClipboardService* clipboard_;
    std::unique_ptr<platform::ClipboardService> ownClipboard_;
};

} // namespace sorvane::shell
