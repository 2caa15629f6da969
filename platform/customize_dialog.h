#pragma once
// The customise dialog of the main tool bar: which buttons it shows, and in
// which order.

#include "platform/dialogs.h"

#include <QDialog>
#include <vector>

class QDialogButtonBox;
class QListWidget;
class QPushButton;

namespace sorvane::platform {

class CustomizeDialog : public QDialog {
    Q_OBJECT
public:
    /// Lists `buttons` in their order, each checked when visible. "Reset"
    /// brings back this list as it was when the dialog opened.
    explicit CustomizeDialog(const std::vector<ToolbarButtonState>& buttons,
                             QWidget* parent = nullptr);

    /// The buttons in the order now shown, each visible when checked.
    std::vector<ToolbarButtonState> Buttons() const;

private:
    void Fill(const std::vector<ToolbarButtonState>& buttons);
    void Move(int step);
    void UpdateMoveButtons();

    std::vector<ToolbarButtonState> original_;
    QListWidget* list_ = nullptr;
    QPushButton* up_ = nullptr;
    QPushButton* down_ = nullptr;
    QDialogButtonBox* box_ = nullptr;
};

} // namespace sorvane::platform
