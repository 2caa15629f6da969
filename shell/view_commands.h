#pragma once
// The View menu's commands: bands and status bar shown, columns, sorting,
// which files are shown, colours, font and the tool bar's buttons.

#include <QObject>
#include <QString>

class QPoint;
class QToolBar;

namespace sorvane::shell {

struct WindowContext;

class ViewCommands : public QObject {
    Q_OBJECT
public:
    /// A click on a column header sorts by it; a right-click on a band or
    /// the status bar opens the View menu, a double-click on a band the
    /// customise dialog.
    ViewCommands(WindowContext& window, QObject* parent);

    /// The View menu opens: the check marks follow the bands, Resize the results.
    void mView_Click();
    void mViewArrangeBy_Click();
    void mViewToolbar_Click(int index);
    void mViewStatus_Click();
    void mViewResizeColumns_Click();
    void mViewColumns_Click(int index);
    void mViewArrange_Click(int index);
    void mViewArrangeNone_Click();
    void mViewOrder_Click(int index);
    void SortByHeader(int column);
    /// Toggles sub-folders; `itemToggled` when the menu item already
    /// changed its own check mark.
    void mViewSubfolders_Click(bool itemToggled = false);
    void mViewShowFiles_Click(int index);
    /// Compare Contents: the next scan also compares the bytes of pairs
    /// whose versions and sizes are equal.
    void mViewContents_Click();
    void mViewColor_Click(int index);
    void mViewSetFont_Click();
    void mViewCustomize_Click();

    /// Sorts the rows by the chosen column; the current row stays current.
    void SortGrid();
    /// The grid and the colour items take the colours of the model.
    void ApplyColors();
    /// Says in the status bar when a colour the user chose is hard to read.
    void NoteLowContrast();
    /// Right-clicks on `band` open the View menu; double-clicks the customise dialog.
    void WatchBand(QToolBar& band, bool customizeOnDoubleClick);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowViewMenuAt(const QPoint& globalPos);
    QString ColorName(int index) const;

    WindowContext& window_;
};

} // namespace sorvane::shell
