#pragma once
// The file properties window: what the file system says about one file (size,
// times, owner, permissions) and everything the program's readers find in it
// (the version resource with all its translations and strings, every name of
// a font, the attributes of a type library). It is modeless, so it can stay
// open beside the result grid.

#include <optional>
#include <QString>
#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

class QLabel;
class QTreeWidget;
class QFrame;
class QGridLayout;

namespace sorvane::windows {

/// One line of the properties: a label and its value, both ready to show.
struct PropertyRow {
    QString label;
    QString value;
    bool operator==(const PropertyRow&) const = default;
};

/// Rows under one heading ("File", "Fixed file information", ...).
struct PropertySection {
    QString title;
    std::vector<PropertyRow> rows;

    /// The value of the first row labelled `label`; nothing when there is none.
    std::optional<QString> Value(const QString& label) const;
};

/// A version string whose numbers are not those of the fixed file
/// information.
struct VersionDisagreement {
    QString field; ///< "FileVersion" or "ProductVersion"
    QString table; ///< key of the string table holding it
    QString fixed; ///< the fixed information's version, "1.2.3.4"
    QString text;  ///< the string as shown
    bool operator==(const VersionDisagreement&) const = default;
};

/// Everything the window shows about one path.
struct FileProperties {
    std::string path;
    /// Something is at the path (a dangling symbolic link counts).
    bool exists = false;
    QString name;   ///< last component, shown form
    QString folder; ///< the rest of the path, shown form
    std::vector<PropertySection> sections;
    std::vector<VersionDisagreement> disagreements;

    /// The first section whose title is `title` or starts with it; null when
    /// there is none.
    const PropertySection* Section(const QString& title) const;
};

/// Reads what the window shows about `path`: its file system entry, then one
/// parse of the file by the reader its extension chooses (fonts with their
/// whole naming table). Texts from the file are made safe to show
/// (VisibleText) and cut like `sorvane-cli info --all` cuts them: at most
/// kListLimit entries of each list and kTextLimit characters of each text,
/// saying how much was left out.
FileProperties ReadFileProperties(const std::string& path);

/// The same for the member `member` (its path below the root) of the archive
/// or installer at `archive`, read out of it now: the section "File" names
/// the member (its path is ARCHIVE/member) and tells its kind, size, and why
/// it could not be read; what its reader finds follows as for a file.
FileProperties ReadMemberProperties(const std::string& archive, const std::string& member);

inline constexpr std::size_t kListLimit = 100;
inline constexpr std::size_t kTextLimit = 1000; ///< characters

/// The numbers a version string starts with: "10.0.19041.1 (WinBuild...)"
/// and "1, 0, 0, 1" give four numbers; blanks around the separators ("." or
/// ",") are skipped. Empty when the text does not start with a number (after
/// blanks). At most four numbers are taken; a number over 65535 ends the list
/// with that number as 65536, which never matches.
std::vector<std::uint32_t> LeadingVersionNumbers(std::string_view text);

/// True when a version string names the version `ms`.`ls` of the fixed
/// information or its leading parts ("6.5" for 6.5.1.900: products often state
/// only their major version). A string without a leading number says nothing
/// about the version and agrees.
bool VersionTextAgrees(std::string_view text, std::uint32_t ms, std::uint32_t ls);

/// Text from a file, shown as it is except that control characters and the
/// marks that reorder text become visible escapes, as the grid shows them
/// (EscapeControls): C0 controls and DEL as \xNN; C1 controls, the direction
/// marks and the line and paragraph separators as \uNNNN. With
/// `keepLineBreaks`, CR LF, LF and CR stay line breaks (shown as LF) and those
/// ending the text are dropped. The text must be UTF-8 (invalid bytes show as
/// U+FFFD).
QString VisibleText(std::string_view utf8, bool keepLineBreaks = false);

/// The caption of the section of what the window read from the file now.
inline constexpr const char* kReadNowSectionTitle = "Read from the file now";

/// The window of one file.
class FilePropertiesWindow : public QWidget {
    Q_OBJECT
public:
    /// Reads `path` and shows it; a window of its own, on top of `owner`.
    /// `gridRow`, when given, is what the result grid shows for the file's
    /// row: it is shown after the section "File", before what the file
    /// holds now.
    explicit FilePropertiesWindow(const std::string& path, QWidget* owner = nullptr,
                                  std::optional<PropertySection> gridRow = std::nullopt);
    /// The same with several sections of what the program knows of the file
    /// (a member of an archive: where in the archive it is, then its row),
    /// shown in this order after the section "File". With `member`, the
    /// window shows that member of the archive at `path`
    /// (ReadMemberProperties) instead of the archive file.
    FilePropertiesWindow(const std::string& path, QWidget* owner,
                         std::vector<PropertySection> known, std::string member = {});

    /// Takes what the grid shows now (after a copy, for example) and shows
    /// the file again.
    void SetGridRow(std::optional<PropertySection> gridRow);
    void SetKnownSections(std::vector<PropertySection> known);

    const std::string& Path() const { return properties_.path; }
    const FileProperties& Properties() const { return properties_; }
    QTreeWidget* tree() const { return tree_; }

    /// Reads the file again and shows what it holds now.
    void Reload();
    /// The rows as text, one "label<TAB>value" line each, headings on their
    /// own lines; only the selected rows unless `all`.
    QString RowsText(bool all) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Fill();
    void FillDisagreements();

    FileProperties properties_;
    std::string file_;   ///< the file read: the archive, for a member
    std::string member_; ///< the member of `file_` shown; empty for the file
    std::vector<PropertySection> known_;
    QLabel* nameLabel_ = nullptr;
    QLabel* folderLabel_ = nullptr;
    QFrame* disagreementBox_ = nullptr;
    QGridLayout* disagreementGrid_ = nullptr;
    QTreeWidget* tree_ = nullptr;
};

/// Shows the properties window of `path` on top of `owner`, with `gridRow`
/// (what the result grid shows for the file) when given: a window already
/// open for the path takes it, is read again and raised, otherwise a new one
/// opens. Returns 0 when a window shows, -1 when nothing is at `path` (no
/// window, no message). Never waits for the window.
int ShowFileProperties(const std::string& path, QWidget* owner,
                       std::optional<PropertySection> gridRow = std::nullopt);
/// The same for the member `member` of the archive at `archive`, read out of
/// it (ReadMemberProperties); its window is that of the path ARCHIVE/member.
int ShowMemberProperties(const std::string& archive, const std::string& member, QWidget* owner,
                         std::vector<PropertySection> known);
/// The same with the sections `known` in place of the grid row's alone.
int ShowFileProperties(const std::string& path, QWidget* owner,
                       std::vector<PropertySection> known);

} // namespace sorvane::windows
