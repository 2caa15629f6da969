#pragma once
// The two searches of the result grid: Find and Find Next with the find
// box's text and options, and the incremental search box that opens when a
// key is typed in the grid.

#include "view/grid_find.h"

#include <QObject>
#include <QString>

#include <functional>

class QLineEdit;
class QStackedWidget;

namespace sorvane::view {

class ResultModel;
class ResultView;

class GridSearch : public QObject {
    Q_OBJECT
public:
    /// `box` is the search box, shown in `stack` in place of `idle` while it
    /// is open. `mayOpen` says whether a typed key may open it now (status
    /// bar shown, results there). `notFound` tells the user "Can not find.".
    GridSearch(ResultModel& model, ResultView& grid, QLineEdit& box, QStackedWidget& stack,
               QWidget& idle, std::function<bool()> mayOpen, std::function<void()> notFound,
               QObject* parent = nullptr);

    /// Searches from the row after the current one; makes the row found
    /// current. Remembers whether it found one: Find Next searches only then.
    bool Find(const QString& text, const FindOptions& options);
    /// Find Next: searches again only when the last search found a row.
    void FindNext(const QString& text, const FindOptions& options);
    bool LastSearchFound() const { return found_; }

    /// Opens the search box holding `character`, which jumps at once.
    void Open(QChar character);
    void Close();
    bool IsOpen() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Jump(const QString& text);

    ResultModel& model_;
    ResultView& grid_;
    QLineEdit& box_;
    QStackedWidget& stack_;
    QWidget& idle_;
    std::function<bool()> mayOpen_;
    std::function<void()> notFound_;
    bool found_ = false;
    int scrollGuard_ = 0; ///< raised while the box scrolls the grid itself
};

} // namespace sorvane::view
