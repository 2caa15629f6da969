#include "platform/dialogs.h"

#include "platform/customize_dialog.h"
#include "platform/filter_dialog.h"
#include "platform/find_dialog.h"

#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

namespace sorvane::platform {
namespace {

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQtButtons(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::Ok:
        return QMessageBox::Ok;
    case MessageButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MessageButtons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}


QMessageBox::StandardButton ToQtButton(MessageResult result) {
    switch (result) {
    case MessageResult::Ok:
        return QMessageBox::Ok;
    case MessageResult::Cancel:
        break;
    case MessageResult::Yes:
        return QMessageBox::Yes;
    case MessageResult::No:
        return QMessageBox::No;
    }
    return QMessageBox::Cancel;
}

// A prompt like "Select the Source &Path:" is also the window title, which
// has no access keys, and only its first line fits there.
QString TitleOf(const QString& prompt) {
    QString title = prompt.section('\n', 0, 0).trimmed();
    title.remove('&');
    if (title.endsWith(':'))
        title.chop(1);
    return title;
}

std::optional<QString> RunFileDialog(QFileDialog& dialog, const FileDialogOptions& options) {
    dialog.setWindowTitle(options.title);
    if (!options.filter.isEmpty())
        dialog.setNameFilter(options.filter);
    dialog.setDefaultSuffix(options.defaultSuffix);
    if (!options.startFolder.isEmpty())
        dialog.setDirectory(options.startFolder);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return std::nullopt;
    return files.first();
}

// A file dialog that also takes a folder: Open with a folder selected, or
// its name (or ".") typed, picks the folder instead of entering it; a
// double click still enters it.
class FolderOrFileDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    QString Picked() const { return picked_; }

    void accept() override {
        const QStringList chosen = selectedFiles();
        if (!chosen.isEmpty() && QFileInfo(chosen.first()).isDir()) {
            picked_ = QDir::cleanPath(chosen.first());
            QDialog::accept();
            return;
        }
        QFileDialog::accept(); // a file; or nothing yet, as a file dialog does
    }

    void done(int result) override {
        if (result == QDialog::Accepted && picked_.isEmpty()) {
            const QStringList chosen = selectedFiles();
            if (!chosen.isEmpty())
                picked_ = chosen.first();
        }
        QFileDialog::done(result);
    }

private:
    QString picked_;
};

} // namespace

MessageResult QtDialogService::ShowMessage(QWidget* parent, const QString& title,
                                           const QString& text, MessageIcon icon,
                                           MessageButtons buttons,
                                           std::optional<MessageResult> defaultButton,
                                           MessageHelp help) {
    const ShowingScope showing(*this);
    QMessageBox box(ToQtIcon(icon), title, text, ToQtButtons(buttons), parent);
    box.setWindowIcon(QApplication::windowIcon());
    if (help == MessageHelp::Button && showHelp_) {
        // Help shows the help beside the box, which stays open for an answer:
        // the button is taken off the box's own handling, which would close it.
        QPushButton* button = box.addButton(QMessageBox::Help);
        QObject::disconnect(button, &QAbstractButton::clicked, nullptr, nullptr);
        // The answer buttons keep the default: after the help opens, Enter
        // still answers and does not ask for the help again.
        button->setAutoDefault(false);
        QObject::connect(button, &QAbstractButton::clicked, &box, [this, &box] {
            showHelp_();
            if (QPushButton* answer = box.defaultButton())
                answer->setFocus();
        });
        // The help window must take the pointer and keys while the box is up.
        box.setWindowModality(Qt::WindowModal);
    }
    const MessageResult first =
        buttons == MessageButtons::Ok || buttons == MessageButtons::OkCancel ? MessageResult::Ok
                                                                             : MessageResult::Yes;
    box.setDefaultButton(ToQtButton(defaultButton.value_or(first)));
    // Esc gives the answer closing the box gives (its only button, No or
    // Cancel), whatever other buttons it has.
    box.setEscapeButton(box.button(ToQtButton(ClosedMessageResult(buttons))));
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok:
        return MessageResult::Ok;
    case QMessageBox::Cancel:
        return MessageResult::Cancel;
    case QMessageBox::Yes:
        return MessageResult::Yes;
    case QMessageBox::No:
        return MessageResult::No;
    default:
        return ClosedMessageResult(buttons);
    }
}

std::optional<QString> QtDialogService::BrowseForFolder(QWidget* parent, const QString& prompt,
                                                        const QString& startFolder) {
    const ShowingScope showing(*this);
    QFileDialog dialog(parent, TitleOf(prompt), startFolder);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The full prompt, access key and all, labels the folder name field.
    QString label = prompt;
    label.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    dialog.setLabelText(QFileDialog::FileName, label);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList folders = dialog.selectedFiles();
    if (folders.isEmpty())
        return std::nullopt;
    return folders.first();
}

std::optional<QString> QtDialogService::BrowseForFolderOrArchive(QWidget* parent,
                                                                 const QString& prompt,
                                                                 const QString& startPath) {
    const ShowingScope showing(*this);
    // The path it holds now is shown selected in its folder: Open keeps it,
    // a double click on a folder enters it.
    const QFileInfo start(QDir::cleanPath(startPath));
    const bool startsAtPath = !startPath.isEmpty() && start.exists() && !start.isRoot();
    FolderOrFileDialog dialog(parent, TitleOf(prompt),
                              startsAtPath ? start.absolutePath() : startPath);
    // A desktop's own file chooser would enter a folder on Open, never pick it.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QString::fromLatin1(kArchiveFilter), QString::fromLatin1(kAllFilesFilter)});
    QString label = prompt;
    label.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    dialog.setLabelText(QFileDialog::FileName, label);
    if (startsAtPath)
        dialog.selectFile(start.fileName());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Picked();
}

std::optional<QString> QtDialogService::OpenFileName(QWidget* parent,
                                                     const FileDialogOptions& options) {
    const ShowingScope showing(*this);
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return RunFileDialog(dialog, options);
}

std::optional<QString> QtDialogService::SaveFileName(QWidget* parent,
                                                     const FileDialogOptions& options) {
    const ShowingScope showing(*this);
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !options.confirmOverwrite);
    // A name typed without an extension gets the one of the filter chosen,
    // so picking "CSV Files (*.csv)" saves a ".csv" file.
    if (!options.defaultSuffix.isEmpty())
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog, fallback = options.defaultSuffix](const QString& filter) {
                             static const QRegularExpression extension(
                                 QStringLiteral(R"(\*\.([A-Za-z0-9]+))"));
                             const QRegularExpressionMatch match = extension.match(filter);
                             dialog.setDefaultSuffix(match.hasMatch() ? match.captured(1)
                                                                      : fallback);
                         });
    return RunFileDialog(dialog, options);
}

std::optional<QString> QtDialogService::EditFilter(QWidget* parent, const QString& filter) {
    const ShowingScope showing(*this);
    FilterDialog dialog(filter, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Filter();
}

bool QtDialogService::ShowFindBox(QWidget* parent, FindState& state) {
    const ShowingScope showing(*this);
    FindDialog dialog(state, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    state = dialog.State();
    return true;
}

std::optional<QFont> QtDialogService::ChooseFont(QWidget* parent, const QFont& current,
                                                 const QColor& textColor) {
    const ShowingScope showing(*this);
    QFontDialog dialog(current, parent);
    // The sample shows the font in the colour the grid draws its text in.
    // Qt's dialog has no colour setting; its sample is the only line edit
    // inside a group box, and when that changes nothing is tinted.
    for (const QGroupBox* group :
         textColor.isValid() ? dialog.findChildren<QGroupBox*>() : QList<QGroupBox*>()) {
        for (QLineEdit* sample : group->findChildren<QLineEdit*>()) {
            QPalette palette = sample->palette();
            palette.setColor(QPalette::Text, textColor);
            sample->setPalette(palette);
        }
    }
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.selectedFont();
}

std::optional<QColor> QtDialogService::ChooseColor(QWidget* parent, const QColor& current,
                                                   const QString& title) {
    const ShowingScope showing(*this);
    QColorDialog dialog(current, parent);
    if (!title.isEmpty())
        dialog.setWindowTitle(title);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QColor chosen = dialog.selectedColor();
    if (!chosen.isValid())
        return std::nullopt;
    return chosen;
}

std::optional<std::vector<ToolbarButtonState>>
QtDialogService::CustomizeToolbar(QWidget* parent, const std::vector<ToolbarButtonState>& buttons) {
    const ShowingScope showing(*this);
    CustomizeDialog dialog(buttons, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Buttons();
}

bool WaitsForUser(const DialogService& dialogs) {
    return dialogs.IsShowing() || QApplication::activeModalWidget() != nullptr ||
           QApplication::activePopupWidget() != nullptr;
}

MessageResult ClosedMessageResult(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::Ok:
        return MessageResult::Ok;
    case MessageButtons::YesNo:
        return MessageResult::No;
    case MessageButtons::OkCancel:
    case MessageButtons::YesNoCancel:
        break;
    }
    return MessageResult::Cancel;
}

} // namespace sorvane::platform
