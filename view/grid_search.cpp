#include "view/grid_search.h"

#include "view/result_model.h"
#include "view/result_view.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStackedWidget>

namespace sorvane::view {
GridSearch::GridSearch(ResultModel& model, ResultView& grid, QLineEdit& box, QStackedWidget& stack,
                       QWidget& idle, std::function<bool()> mayOpen,
                       std::function<void()> notFound, QObject* parent)
    : QObject(parent), model_(model), grid_(grid), box_(box), stack_(stack), idle_(idle),
      mayOpen_(std::move(mayOpen)), notFound_(std::move(notFound)) {
    connect(&grid_, &ResultView::SearchKeyPressed, this, [this](QChar character) {
        if (mayOpen_())
            Open(character);
    });
    connect(&box_, &QLineEdit::textChanged, this, &GridSearch::Jump);
    // A scroll of the user's closes the box; its own does not.
    connect(grid_.verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (scrollGuard_ == 0 && IsOpen())
            Close();
    });
    box_.installEventFilter(this); // Esc and the loss of the focus close it
}

bool GridSearch::Find(const QString& text, const FindOptions& options) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const int row = FindInGrid(model_, grid_.CurrentRow(), text, options);
    QApplication::restoreOverrideCursor();
    found_ = row >= 0;
    if (found_)
        grid_.SelectRow(row);
    else
        notFound_();
    return found_;
}

void GridSearch::FindNext(const QString& text, const FindOptions& options) {
    if (found_ && !text.isEmpty())
        Find(text, options);
}

void GridSearch::Open(QChar character) {
    box_.setText(QString(character)); // jumps at once
    box_.setCursorPosition(1);
    stack_.setCurrentWidget(&box_);
    box_.setFocus();
}

void GridSearch::Close() {
    if (IsOpen())
        stack_.setCurrentWidget(&idle_);
    const QSignalBlocker quiet(&box_);
    box_.clear();
}

bool GridSearch::IsOpen() const { return stack_.currentWidget() == &box_; }

void GridSearch::Jump(const QString& text) {
    if (text.isEmpty())
        return;
    // The first row whose Name is not smaller than the text, whatever the order.
    for (int row = 0; model_.HoldsRow(row); ++row) {
        const std::string_view name = model_.NameAt(row);
        if (text.compare(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())),
                         Qt::CaseInsensitive) <= 0) {
            ++scrollGuard_;
            grid_.SelectRow(row);
            --scrollGuard_;
            return;
        }
    }
}

bool GridSearch::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &box_) {
        if (event->type() == QEvent::FocusOut) {
            Close();
        } else if (event->type() == QEvent::KeyPress &&
                   static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && grid_.isEnabled()) {
            grid_.setFocus(); // the box closes as it loses the focus
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace sorvane::view
