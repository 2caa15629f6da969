#pragma once
// The program's name, version and the places it records itself.

#include <QString>

namespace sorvane::shell {

inline constexpr const char* kProgramTitle = "Sorvane";
inline constexpr const char* kCompanyName = "Brannock Ltd";
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;
inline constexpr int kVersionRevision = 0;

// The version information shown in the About box and used by the Help menu.
/// The maker's web address; it ends with "/".
inline constexpr const char* kWebAddress = "https://brannock.example/";
/// The support mail address as a link.
inline constexpr const char* kSupportMail = "mailto:support@brannock.example";
/// The product line of the About box.
inline constexpr const char* kTrademarkLine = "Sorvane\u2122 File Version Comparer";
/// The legal notice of the About box.
inline constexpr const char* kLegalNotice = "Copyright \u00a9 Brannock Ltd. All rights reserved.";

/// "1.00": the major version, the minor as two digits, and the revision as
/// four digits only when it is above 0 ("1.05.0012").
QString VersionText(int major = kVersionMajor, int minor = kVersionMinor,
                    int revision = kVersionRevision);

/// " Sorvane 1.00": the idle window caption.
QString BaseCaption();

} // namespace sorvane::shell
