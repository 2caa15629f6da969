#include "shell/help_contexts.h"

#include "platform/help_keys.h"

#include <QAction>
#include <QMenu>

#include <array>

namespace sorvane::shell {
namespace {

struct Context {
    const char* name;
    int number;
    bool family; ///< the name is the prefix of numbered items ("mViewColor0" to "mViewColor8")
};

// The four Toolbars entries have numbers of their own (401 to 404), below.
constexpr std::array<Context, 49> kContexts = {{
    {"mFileScan", 201, false},
    {"mFileSaveSourceMap", 203, false},
    {"mFileExportReport", 217, false},
    {"mViewSubfolders", 204, false},
    {"mViewShowFiles1", 205, false},
    {"mToolsBackup", 206, false},
    {"mViewResizeColumns", 207, false},
    {"mEditFind", 208, false},
    {"mToolsCopySource", 209, false},
    {"mToolsSetFilter", 210, false},
    {"mFileOpenSourcePath", 211, false},
    {"mFileOpenSourceMap", 212, false},
    {"mFileOpenTargetPath", 213, false},
    {"mToolsSwap", 214, false},
    {"mViewStatus", 215, false},
    {"mFileExit", 216, false},
    {"mEditUndo", 301, false},
    {"mEditCut", 301, false},
    {"mEditCopy", 301, false},
    {"mEditPaste", 301, false},
    {"mEditDelete", 301, false},
    {"mEditCopySpecial", 302, false},
    {"mEditCopySpecialList", 302, true},
    {"mEditFindNext", 303, false},
    {"mEditSaveSpecial", 304, false},
    {"mEditSaveSpecialList", 304, true},
    {"mViewShowFiles0", 305, false},
    {"mViewShowFiles2", 306, false},
    {"mViewToolbars", 401, false},
    {"mViewVisibleColumns", 405, false},
    {"mViewColumns", 405, true},
    {"mViewArrangeBy", 405, false},
    {"mViewArrangeNone", 405, false},
    {"mViewArrange", 405, true},
    {"mViewOrder", 406, true},
    {"mViewSetColor", 407, false},
    {"mViewColor", 407, true},
    {"mViewSetFont", 408, false},
    {"mViewCustomize", 409, false},
    {"mToolsBackupFolder", 501, false},
    {"mToolsSourceProperties", 502, false},
    {"mToolsCopyBatch", 503, false},
    {"mToolsTargetProperties", 504, false},
    {"mHelpTopics", 601, false},
    {"mHelpWhatsThis", 602, false},
    {"mHelpWeb", 603, false},
    {"mHelpMail", 604, false},
    {"mHelpAbout", 605, false},
    {"mHelpUpdate", 606, false},
}};

bool IsNumber(QStringView text) {
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (!c.isDigit())
            return false;
    return true;
}

} // namespace

int HelpContextOf(const QString& name) {
    if (name.startsWith(QLatin1String("mViewToolbar")) && name.size() == 13 &&
        name[12] >= QLatin1Char('1') && name[12] <= QLatin1Char('4'))
        return 400 + name[12].digitValue();
    for (const Context& context : kContexts) {
        const QLatin1String known(context.name);
        if (name == known)
            return context.number;
        if (context.family && name.startsWith(known) && IsNumber(QStringView(name).mid(known.size())))
            return context.number;
    }
    return 0;
}

void AssignHelpContexts(const QList<QMenu*>& menus) {
    for (QMenu* menu : menus) {
        for (QAction* item : menu->actions()) {
            const QString name =
                item->menu() != nullptr ? item->menu()->objectName() : item->objectName();
            if (const int context = HelpContextOf(name); context != 0)
                item->setProperty(platform::kHelpContextProperty, context);
        }
    }
}

} // namespace sorvane::shell
