#include "platform/find_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace sorvane::platform {

namespace {
constexpr int kShownOptions = FindState::kWholeWord | FindState::kMatchCase | FindState::kSearchUp;
}

FindDialog::FindDialog(const FindState& state, QWidget* parent)
    : QDialog(parent), hiddenOptions_(state.options & ~kShownOptions) {
    setWindowTitle(tr("Find"));

    auto* label = new QLabel(tr("Fi&nd what:"), this);
    text_ = new QLineEdit(state.text, this);
    text_->setObjectName("findText");
    text_->setMaxLength(kMaxTextLength);
    label->setBuddy(text_);

    wholeWord_ = new QCheckBox(tr("Match &whole word only"), this);
    wholeWord_->setObjectName("wholeWord");
    wholeWord_->setChecked(state.options & FindState::kWholeWord);
    matchCase_ = new QCheckBox(tr("Match &case"), this);
    matchCase_->setObjectName("matchCase");
    matchCase_->setChecked(state.options & FindState::kMatchCase);

    auto* direction = new QGroupBox(tr("Direction"), this);
    up_ = new QRadioButton(tr("&Up"), direction);
    up_->setObjectName("searchUp");
    down_ = new QRadioButton(tr("&Down"), direction);
    down_->setObjectName("searchDown");
    (state.options & FindState::kSearchUp ? up_ : down_)->setChecked(true);
    auto* directionLayout = new QHBoxLayout(direction);
    directionLayout->addWidget(up_);
    directionLayout->addWidget(down_);

    findNext_ = new QPushButton(tr("&Find Next"), this);
    findNext_->setObjectName("findNext");
    findNext_->setDefault(true);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName("cancel");

    auto* options = new QVBoxLayout;
    options->addWidget(wholeWord_);
    options->addWidget(matchCase_);
    options->addStretch();

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(findNext_);
    buttons->addWidget(cancel);
    buttons->addStretch();

    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(text_, 0, 1, 1, 2);
    grid->addLayout(options, 1, 0, 1, 2);
    grid->addWidget(direction, 1, 2);
    grid->addLayout(buttons, 0, 3, 2, 1);
    grid->setColumnStretch(1, 1);

    connect(text_, &QLineEdit::textChanged, this, &FindDialog::UpdateFindButton);
    connect(findNext_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    // Selected, so typing replaces the text of the last search at once.
    text_->selectAll();
    text_->setFocus();
    UpdateFindButton();
}

FindState FindDialog::State() const {
    FindState state;
    state.text = text_->text();
    state.options = hiddenOptions_;
    if (wholeWord_->isChecked())
        state.options |= FindState::kWholeWord;
    if (matchCase_->isChecked())
        state.options |= FindState::kMatchCase;
    if (up_->isChecked())
        state.options |= FindState::kSearchUp;
    return state;
}

void FindDialog::UpdateFindButton() {
    findNext_->setEnabled(!text_->text().isEmpty());
}

} // namespace sorvane::platform
