#include "shell/app_info.h"

namespace sorvane::shell {

QString VersionText(int major, int minor, int revision) {
    QString text = QStringLiteral("%1.%2").arg(major).arg(minor, 2, 10, QLatin1Char('0'));
    if (revision > 0)
        text += QStringLiteral(".%1").arg(revision, 4, 10, QLatin1Char('0'));
    return text;
}

QString BaseCaption() {
    return QStringLiteral(" %1 %2").arg(QString::fromLatin1(kProgramTitle), VersionText());
}

} // namespace sorvane::shell
