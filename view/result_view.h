#pragma once
// The result grid: a table view over ResultModel with whole-row selection,
// the always-hidden root-marker and size columns, visible columns that can be
// hidden and fitted to their content, and a last, empty filler column that
// takes up the width the data columns leave.

#include "view/result_model.h"

#include <QTableView>
#include <array>
#include <string>
#include <QTimer>

namespace sorvane::view {

/// A colour item's swatch: 10 x 10 pixels of `color` in a one-pixel black frame.
QIcon ColorSwatch(const QColor& color);

/// The incremental search box's font: the grid's family at 8 points.
QFont SearchBoxFont(const QFont& gridFont);

class ResultView : public QTableView {
    Q_OBJECT
public:
    explicit ResultView(ResultModel* model, QWidget* parent = nullptr);

    ResultModel* resultModel() const { return model_; }

    /// Default widths of the data columns 1 to 10, in pixels.
    static int DefaultWidth(int column);

    /// Shows a data column (1 to 10) at its fitted width, or hides it (width 0).
    void SetColumnVisible(int column, bool visible);
    bool IsColumnVisible(int column) const;
    /// Width of a column in pixels; setting it on a hidden column hides nothing.
    /// Columns 0 and 11 stay at width 0.
    void SetColumnWidthPx(int column, int width);
    int ColumnWidthPx(int column) const;
    /// The width that fits the widest text of the last scan plus 10 pixels,
    /// never narrower than the header height plus 4 pixels.
    int FittedWidth(int column) const;
    /// Fits every visible data column.
    void ResizeColumns();
    /// Fits the visible data columns whose width the user never set (by
    /// dragging a header edge); the others keep their width.
    void FitUnsizedColumns();
    /// Whether the user set the width of data column `column` (1 to 10).
    /// Fitting or showing a column again makes its width the program's.
    void SetColumnUserSized(int column, bool userSized);
    bool IsColumnUserSized(int column) const;
    /// The user-sized marks of the columns 1 to 10 as "1" and "0", column 1
    /// first, as the settings file keeps them.
    std::string UserSizedText() const;
    /// Gives the filler column the width left over (0 when the columns
    /// overflow), leaving room for the vertical scroll bar when it shows.
    void FitFillerColumn();

    /// The current row (-1 when none).
    int CurrentRow() const;
    /// Makes `row` current, selects it as a whole and scrolls it to the top.
    void SelectRow(int row);
    /// Takes a new font; every column keeps its width (the rows follow the
    /// font's height).
    void SetFontKeepingWidths(const QFont& font);

signals:
    /// A click with any mouse button on the header of `column` (1 to 10). A
    /// left press on the edge between two columns starts resizing instead.
    void HeaderClicked(int column);
    /// Ctrl+C or Ctrl+Insert: the current row's path is wanted on the clipboard.
    void CopyRequested();
    /// A right click on a row, which is current by now: the window opens its
    /// Tools menu at `globalPos`.
    void ContextMenuRequested(const QPoint& globalPos);
    /// A key that types `character` without Shift (a letter in lower case, a
    /// digit or punctuation of the main keyboard, not the keypad) was pressed
    /// without Ctrl or Alt: the window may open its incremental search.
    void SearchKeyPressed(QChar character);

protected:
    /// Home and End move to the first and the last row, as Ctrl+Home and
    /// Ctrl+End do; the current column stays.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ApplyColors();
    void ApplyRowHeight();
    int HeaderHeight() const;
    bool IsOnResizeGrip(int x) const;

    ResultModel* model_;
    QTimer fillerTimer_;
    // Columns the user sized, and whether a header edge is being dragged.
    std::array<bool, kGridColumnCount> userSized_{};
    bool draggingEdge_ = false;
};

} // namespace sorvane::view
