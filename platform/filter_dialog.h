#pragma once
// The filter editor: the wildcard patterns that choose the files of a scan,
// one per line, with a count, a check of each pattern and a name to try them on.

#include <QDialog>
#include <QStringList>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace sorvane::platform {

class FilterDialog : public QDialog {
    Q_OBJECT
public:
    /// Lists the patterns of `filter` (separated by ";" or blanks), one per line.
    explicit FilterDialog(const QString& filter, QWidget* parent = nullptr);

    /// The patterns as edited, without repeats (letter case ignored), joined
    /// with ";"; empty when no pattern is left, which lets every file through.
    QString Filter() const;
    /// The patterns as edited, in order, without repeats (letter case ignored).
    QStringList Patterns() const;
    /// The first pattern that names a folder ("/" in it), or an empty text.
    QString InvalidPattern() const;

    /// The patterns of `filter`: the words between ";", blanks and line breaks.
    static QStringList SplitPatterns(const QString& filter);

private:
    void Update();

    QPlainTextEdit* patterns_ = nullptr;
    QLabel* count_ = nullptr;
    QLabel* problem_ = nullptr;
    QLineEdit* sample_ = nullptr;
    QLabel* sampleResult_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};

} // namespace sorvane::platform
