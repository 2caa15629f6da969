#pragma once
// The find box: the text to look for, whole-word and match-case options and
// the direction of the search.

#include "platform/dialogs.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace sorvane::platform {

class FindDialog : public QDialog {
    Q_OBJECT
public:
    /// Longest text the box takes; the settings file keeps it with room to spare.
    static constexpr int kMaxTextLength = 250;

    /// Shows the text and options of `state`; "Find Next" accepts the dialog
    /// and is enabled only while the text is not empty.
    explicit FindDialog(const FindState& state, QWidget* parent = nullptr);

    /// The text and options as the user left them. Option bits the dialog does
    /// not show are kept from the state it was opened with.
    FindState State() const;

private:
    void UpdateFindButton();

    int hiddenOptions_ = 0;
    QLineEdit* text_ = nullptr;
    QCheckBox* wholeWord_ = nullptr;
    QCheckBox* matchCase_ = nullptr;
    QRadioButton* up_ = nullptr;
    QRadioButton* down_ = nullptr;
    QPushButton* findNext_ = nullptr;
};

} // namespace sorvane::platform
