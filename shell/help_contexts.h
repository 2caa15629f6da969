#pragma once
// Each menu item's help context number: the anchor of its topic in the help
// document, which F1 on the highlighted item opens.

#include <QList>
#include <QString>

class QMenu;

namespace sorvane::shell {

/// The help context of the menu item or sub-menu named `name` ("mFileScan",
/// "mViewColumns3", "mEditCopySpecial"); 0 when it has none.
int HelpContextOf(const QString& name);

/// Gives every item of `menus` its help context number (the property
/// platform::kHelpContextProperty); a sub-menu's item gets its menu's.
void AssignHelpContexts(const QList<QMenu*>& menus);

} // namespace sorvane::shell
