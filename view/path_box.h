#pragma once
// An editable combo box with a most-recently-used history of up to 20
// entries, no two equal: paths compare exactly, as the file system compares
// them (`/data/src` and `/data/SRC` are two folders), filters without regard
// to case, as they match names. It tells the window when its
// text changes, when an entry is picked, and when Enter is pressed; Esc
// undoes the last edit; files dropped on it (Source and Target boxes) set its
// text to the first file's path.

#include <QComboBox>

namespace sorvane::view {

class PathBox : public QComboBox {
    Q_OBJECT
public:
    enum class Kind { Source, Target, Filter };
    static constexpr int kMaxHistory = 20;

    explicit PathBox(Kind kind, QWidget* parent = nullptr);
    Kind kind() const { return kind_; }

    /// Puts the current text at the top of the list: a new text is inserted
    /// (dropping the oldest entries beyond `maxCount`), a text already listed
    /// (as IgnoresCase says) moves to the top in the letter case just entered
    /// and keeps its item number. Entry 0 is then selected, which emits Picked.
    /// An empty text adds nothing.
    void AddToHistory(int maxCount = kMaxHistory);

    /// Index of the first entry equal to `text` (case ignored when asked), or
    /// -1. When `select` is set, the entry found is selected (emitting
    /// Picked), or, when none is found, the selection and the text are cleared.
    int FindListItem(const QString& text, bool select, bool ignoreCase);
    /// The same, comparing as the box's own history does.
    int FindListItem(const QString& text, bool select) {
        return FindListItem(text, select, IgnoresCase());
    }
    /// True when two entries that differ only in letter case are one: the
    /// Filter box's patterns match names without regard to case; Source and
    /// Target name folders, and "X" and "x" are two.
    bool IgnoresCase() const { return kind_ == Kind::Filter; }

    /// Widens the drop-down list so its longest entry fits (plus 10 pixels,
    /// plus a scroll bar beyond 10 entries), never narrower than the box.
    void FitDropDownWidth();
    /// The width FitDropDownWidth gives.
    int DropDownWidth() const;

    QStringList History() const;
    /// Replaces the list (empty entries skipped, at most kMaxHistory kept)
    /// without touching the text.
    void SetHistory(const QStringList& entries);

    /// The width the box asks for in its band; 0 gives the usual width.
    void SetPreferredWidth(int width);
    QSize sizeHint() const override;

    QString Text() const { return currentText(); }
    /// Sets the text as the program does; emits TextChanged when it differs.
    void SetText(const QString& text);

signals:
    /// The text changed, by typing or by the program.
    void TextChanged(const QString& text);
    /// An entry was picked from the list or selected by AddToHistory/FindListItem.
    void Picked(int index);
    /// Enter was pressed in the edit field.
    void EnterPressed();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showPopup() override;

private:
    // Makes entry `index` current with its text, and emits Picked.
    void Select(int index);
    // No entry current and an empty text; emits TextChanged when text is lost.
    void ClearSelection();

    Kind kind_;
    int preferredWidth_ = 0;
};

} // namespace sorvane::view
