#pragma once
// The status bar's three panels: rows and files counted, messages (or the
// scan's progress bar, or the grid's search box, in the same place) and the
// folder being read.

#include <QObject>
#include <QString>

#include <functional>

class QLabel;
class QLineEdit;
class QProgressBar;
class QStackedWidget;
class QStatusBar;

namespace sorvane::view {

class GridSearch;
class ResultModel;
class ResultView;

class StatusPanels : public QObject {
    Q_OBJECT
public:
    /// Fills `bar`. `notFound` tells the user that the search box found nothing.
    StatusPanels(QStatusBar& bar, ResultModel& model, ResultView& grid,
                 std::function<void()> notFound, QObject* parent = nullptr);

    QString PanelText(int panel) const;
    /// Shows `text` in panel 1, 2 or 3 as the grid shows names.
    void SetPanel(int panel, const QString& text);
    /// Panel 2 shows the progress bar (when the status bar is shown) or its text.
    void ShowProgress(bool shown);
    void SetProgress(int percent);
    int Progress() const;
    /// Panel 2 offers a click (tool tip, pointing hand) or stops offering it.
    void OfferPanelClick(bool offered);

    QStatusBar& bar() const { return bar_; }
    QLabel* panel(int panel) const;
    QProgressBar* progressBar() const { return progress_; }
    QLineEdit* searchBox() const { return search_; }
    GridSearch& gridSearch() const { return *gridSearch_; }

signals:
    /// A left click on panel 2 while it offers one.
    void PanelClicked(int panel);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QStatusBar& bar_;
    QLabel* panel1_ = nullptr;
    QLabel* panel2_ = nullptr;
    QLabel* panel3_ = nullptr;
    QStackedWidget* panel2Stack_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLineEdit* search_ = nullptr;
    GridSearch* gridSearch_ = nullptr;
    bool clickOffered_ = false;
};

} // namespace sorvane::view
