#include "platform/filter_dialog.h"

#include "engine/scan/folder_enumerator.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace sorvane::platform {

FilterDialog::FilterDialog(const QString& filter, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("File Filter"));

    auto* intro =
        new QLabel(tr("&Patterns, one per line (* stands for any run of characters, ? for "
                      "one; letter case is ignored):"),
                   this);
    intro->setWordWrap(true);
    patterns_ = new QPlainTextEdit(this);
    patterns_->setObjectName("patterns");
    patterns_->setLineWrapMode(QPlainTextEdit::NoWrap);
    patterns_->setTabChangesFocus(true);
    patterns_->setPlainText(SplitPatterns(filter).join('\n'));
    intro->setBuddy(patterns_);

    count_ = new QLabel(this);
    count_->setObjectName("patternCount");
    problem_ = new QLabel(this);
    problem_->setObjectName("problem");
    problem_->setWordWrap(true);
    QPalette warning = problem_->palette();
    warning.setColor(QPalette::WindowText, Qt::red);
    problem_->setPalette(warning);

    sample_ = new QLineEdit(this);
    sample_->setObjectName("sampleName");
    sample_->setPlaceholderText(tr("kernel32.dll"));
    sampleResult_ = new QLabel(this);
    sampleResult_->setObjectName("sampleResult");
    auto* sampleForm = new QFormLayout;
    sampleForm->addRow(tr("&Try a file name:"), sample_);
    sampleForm->addRow(QString(), sampleResult_);

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(patterns_, 1);
    layout->addWidget(count_);
    layout->addWidget(problem_);
    layout->addLayout(sampleForm);
    layout->addWidget(buttons_);

    connect(patterns_, &QPlainTextEdit::textChanged, this, &FilterDialog::Update);
    connect(sample_, &QLineEdit::textChanged, this, &FilterDialog::Update);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

    patterns_->setFocus();
    Update();
}

QStringList FilterDialog::SplitPatterns(const QString& filter) {
    static const QRegularExpression separators(QStringLiteral("[;\\s]+"));
    return filter.split(separators, Qt::SkipEmptyParts);
}

QStringList FilterDialog::Patterns() const {
    QStringList result;
    for (const QString& pattern : SplitPatterns(patterns_->toPlainText())) {
        if (!result.contains(pattern, Qt::CaseInsensitive))
            result.append(pattern);
    }
    return result;
}

QString FilterDialog::Filter() const {
    return Patterns().join(';');
}

QString FilterDialog::InvalidPattern() const {
    for (const QString& pattern : Patterns()) {
        if (pattern.contains('/'))
            return pattern;
    }
    return {};
}

void FilterDialog::Update() {
    const QStringList patterns = Patterns();
    if (patterns.isEmpty())
        count_->setText(tr("No pattern: every file is scanned."));
    else if (patterns.size() == 1)
        count_->setText(tr("1 pattern"));
    else
        count_->setText(tr("%1 patterns").arg(patterns.size()));

    const QString invalid = InvalidPattern();
    problem_->setText(
        invalid.isEmpty()
            ? QString()
            : tr("\"%1\" contains \"/\": a pattern matches file names, not folders.").arg(invalid));
    problem_->setVisible(!invalid.isEmpty());
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(invalid.isEmpty());

    const QString name = sample_->text();
    if (name.isEmpty())
        sampleResult_->clear();
    else if (MatchesFilter(name.toStdString(), patterns.join(';').toStdString()))
        sampleResult_->setText(tr("is scanned"));
    else
        sampleResult_->setText(tr("is left out"));
}

} // namespace sorvane::platform
