#pragma once
// The help window: the program's help document, which is built into the
// program, with back, forward, contents and a find box.

#include <QStringList>
#include <QUrl>
#include <QWidget>

class QLineEdit;
class QTextBrowser;

namespace sorvane::windows {

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    /// The address of the topic of help context `context` (its anchor is the
    /// number); 0 is the contents.
    static QUrl TopicUrl(int context);

    /// Shows the topic of `context` (0, or a number without a topic: the
    /// contents), and shows and raises the window.
    void ShowTopic(int context);
    /// The context number of the topic shown; 0 for the contents.
    int CurrentTopic() const;
    /// The names of every anchor in the document.
    QStringList Anchors() const;

    /// Selects the next occurrence of `text` after the cursor (before it when
    /// `backward`), starting over at the other end once; false when the
    /// document does not hold the text.
    bool Find(const QString& text, bool backward = false);

    QTextBrowser* browser() const { return browser_; }
    QLineEdit* findBox() const { return findBox_; }

private:
    QTextBrowser* browser_ = nullptr;
    QLineEdit* findBox_ = nullptr;
};

} // namespace sorvane::windows
