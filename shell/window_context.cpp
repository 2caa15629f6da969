#include "shell/window_context.h"

#include "engine/text/path_utils.h"
#include "shell/action_table.h"
#include "shell/app_info.h"
#include "shell/scan_runner.h"
#include "sync/copy_controller.h"
#include "sync/special_lists.h"
#include "view/path_box.h"
#include "view/result_model.h"
#include "view/result_view.h"
#include "view/status_panels.h"

#include <QMainWindow>

namespace sorvane::shell {

namespace {
const char* const kSettingsChangedNotice =
    "Settings were changed. Perform the scan again to update the results.";
}

QAction* WindowContext::action(const QString& name) const { return commands->action(name); }

bool WindowContext::Scanning() const { return runner->IsRunning(); }

bool WindowContext::Busy() const { return Scanning() || copier->IsCopying(); }

void WindowContext::UpdateCommandState() const {
    if (updateCommandState)
        updateCommandState();
}

void WindowContext::NoteSettingsChanged() {
    if (!model->HasResults())
        return;
    SetPanel(2, QObject::tr(kSettingsChangedNotice));
    state.counters.Reset();
}

void WindowContext::SetPanel(int panel, const QString& text) const { panels->SetPanel(panel, text); }

QString WindowContext::PanelText(int panel) const { return panels->PanelText(panel); }

std::string WindowContext::Folder(const view::PathBox* box) const {
    return NormalizeFolderPath(box->Text().toStdString(), false);
}

std::string WindowContext::CurrentRowPath(const view::PathBox* box) const {
    const std::string_view name = model->NameAt(grid->CurrentRow());
    if (name.empty() || box->Text().isEmpty())
        return {};
    return JoinPath(Folder(box), name);
}

void WindowContext::Warn(const QString& text) const {
    dialogs->ShowMessage(window, QString::fromLatin1(kProgramTitle), text,
                         platform::MessageIcon::Warning, platform::MessageButtons::Ok);
}

void WindowContext::ShowLeftOut(sync::LeftOutOf where, const std::vector<std::string>& names) const {
    Warn(sync::LeftOutMessage(where, names));
}

} // namespace sorvane::shell
