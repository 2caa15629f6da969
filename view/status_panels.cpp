#include "view/status_panels.h"

#include "view/grid_search.h"
#include "view/result_model.h"
#include "view/result_view.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStackedWidget>
#include <QStatusBar>

namespace sorvane::view {

StatusPanels::StatusPanels(QStatusBar& bar, ResultModel& model, ResultView& grid,
                           std::function<void()> notFound, QObject* parent)
    : QObject(parent), bar_(bar) {
    bar.setObjectName(QStringLiteral("pbStatusBar"));
    bar.setSizeGripEnabled(true);
    panel1_ = new QLabel(&bar);
    panel1_->setMinimumWidth(90);
    panel2_ = new QLabel(&bar);
    panel3_ = new QLabel(&bar);
    panel3_->setMinimumWidth(160);
    panel3_->setMaximumWidth(400);
    progress_ = new QProgressBar(&bar);
    progress_->setObjectName(QStringLiteral("pbProgress"));
    progress_->setRange(0, 100);
    progress_->setTextVisible(false);
    search_ = new QLineEdit(&bar);
    search_->setObjectName(QStringLiteral("tbSearch"));
    panel2Stack_ = new QStackedWidget(&bar);
    panel2Stack_->addWidget(panel2_);
    panel2Stack_->addWidget(progress_);
    panel2Stack_->addWidget(search_);
    gridSearch_ = new GridSearch(
        model, grid, *search_, *panel2Stack_, *panel2_,
        [this, &model] { return bar_.isVisible() && model.HasResults(); }, std::move(notFound),
        this);
    for (QLabel* label : {panel1_, panel2_, panel3_})
        label->setTextFormat(Qt::PlainText);
    panel2_->installEventFilter(this);
    bar.addWidget(panel1_);
    bar.addWidget(panel2Stack_, 1);
    bar.addWidget(panel3_);
}

QLabel* StatusPanels::panel(int panel) const {
    return panel == 1 ? panel1_ : panel == 2 ? panel2_ : panel == 3 ? panel3_ : nullptr;
}

QString StatusPanels::PanelText(int panel) const {
    const QLabel* label = this->panel(panel);
    return label != nullptr ? label->text() : QString();
}

void StatusPanels::SetPanel(int panel, const QString& text) {
    QLabel* label = panel == 1 ? panel1_ : panel == 2 ? panel2_ : panel3_;
    // Folder names reach the panels: shown as the grid shows names.
    const QString shown = ShownText(text.toStdString());
    if (label->text() != shown)
        label->setText(shown);
}

void StatusPanels::ShowProgress(bool shown) {
    if (!shown)
        panel2Stack_->setCurrentWidget(panel2_);
    else if (bar_.isVisible())
        panel2Stack_->setCurrentWidget(progress_);
}

void StatusPanels::SetProgress(int percent) { progress_->setValue(percent); }

int StatusPanels::Progress() const { return progress_->value(); }

void StatusPanels::OfferPanelClick(bool offered) {
    clickOffered_ = offered;
    panel2_->setToolTip(offered ? tr("Click to list the entries that could not be read.")
                                : QString());
    if (offered)
        panel2_->setCursor(Qt::PointingHandCursor);
    else
        panel2_->unsetCursor();
}

bool StatusPanels::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panel2_ && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && clickOffered_) {
        emit PanelClicked(2);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace sorvane::view
