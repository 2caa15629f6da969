#include "platform/customize_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace sorvane::platform {

CustomizeDialog::CustomizeDialog(const std::vector<ToolbarButtonState>& buttons, QWidget* parent)
    : QDialog(parent), original_(buttons) {
    setWindowTitle(tr("Customize Toolbar"));

    auto* label = new QLabel(tr("Tool&bar buttons (checked buttons are shown):"), this);
    list_ = new QListWidget(this);
    list_->setObjectName("buttons");
    label->setBuddy(list_);

    up_ = new QPushButton(tr("Move &Up"), this);
    up_->setObjectName("moveUp");
    down_ = new QPushButton(tr("Move &Down"), this);
    down_->setObjectName("moveDown");
    auto* moves = new QVBoxLayout;
    moves->addWidget(up_);
    moves->addWidget(down_);
    moves->addStretch();

    box_ = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Reset, this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0, 1, 2);
    grid->addWidget(list_, 1, 0);
    grid->addLayout(moves, 1, 1);
    grid->addWidget(box_, 2, 0, 1, 2);

    connect(up_, &QPushButton::clicked, this, [this] { Move(-1); });
    connect(down_, &QPushButton::clicked, this, [this] { Move(+1); });
    connect(list_, &QListWidget::currentRowChanged, this, &CustomizeDialog::UpdateMoveButtons);
    connect(box_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(box_->button(QDialogButtonBox::Reset), &QPushButton::clicked, this,
            [this] { Fill(original_); });

    Fill(original_);
}

void CustomizeDialog::Fill(const std::vector<ToolbarButtonState>& buttons) {
    list_->clear();
    for (const ToolbarButtonState& button : buttons) {
        auto* item = new QListWidgetItem(button.description, list_);
        item->setData(Qt::UserRole, button.key);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(button.visible ? Qt::Checked : Qt::Unchecked);
    }
    list_->setCurrentRow(list_->count() > 0 ? 0 : -1);
    UpdateMoveButtons();
}

std::vector<ToolbarButtonState> CustomizeDialog::Buttons() const {
    std::vector<ToolbarButtonState> buttons;
    buttons.reserve(static_cast<std::size_t>(list_->count()));
    for (int row = 0; row < list_->count(); ++row) {
        const QListWidgetItem* item = list_->item(row);
        buttons.push_back(
            {item->data(Qt::UserRole).toString(), item->text(), item->checkState() == Qt::Checked});
    }
    return buttons;
}

void CustomizeDialog::Move(int step) {
    const int row = list_->currentRow();
    const int target = row + step;
    if (row < 0 || target < 0 || target >= list_->count())
        return;
    QListWidgetItem* item = list_->takeItem(row);
    list_->insertItem(target, item);
    list_->setCurrentRow(target);
    UpdateMoveButtons();
}

void CustomizeDialog::UpdateMoveButtons() {
    const int row = list_->currentRow();
    up_->setEnabled(row > 0);
    down_->setEnabled(row >= 0 && row < list_->count() - 1);
}

} // namespace sorvane::platform
