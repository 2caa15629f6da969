#include "view/path_box.h"

#include <QAbstractItemView>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QStyle>
#include <QUrl>

#include <algorithm>

namespace sorvane::view {
namespace {

constexpr int kDropDownMargin = 10;
// Beyond this many entries the drop-down list shows a scroll bar.
constexpr int kEntriesWithoutScrollBar = 10;

// The first local file or folder a drop carries, or an empty text.
QString FirstLocalPath(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls())
        return {};
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            return QDir::cleanPath(url.toLocalFile());
    }
    return {};
}

} // namespace

PathBox::PathBox(Kind kind, QWidget* parent) : QComboBox(parent), kind_(kind) {
    setEditable(true);
    // Only AddToHistory puts entries in the list; completion would change
    // what the user types.
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    // Drops on the edit field come to the box, which takes files (not text)
    // and only on the Source and Target boxes.
    lineEdit()->setAcceptDrops(false);
    setAcceptDrops(kind != Kind::Filter);

    // textEdited, not textChanged: the text an entry brings along when it is
    // picked is reported by Picked, and SetText reports its own change.
    connect(lineEdit(), &QLineEdit::textEdited, this, &PathBox::TextChanged);
    connect(this, &QComboBox::activated, this, &PathBox::Picked);
}

void PathBox::AddToHistory(int maxCount) {
    const QString text = currentText();
    if (text.isEmpty())
        return;
    // At least the entry just added stays.
    maxCount = std::max(maxCount, 1);
    const int found = FindListItem(text, false);
    if (found < 0) {
        insertItem(0, text, 0);
        while (count() > maxCount)
            removeItem(count() - 1);
    } else {
        const QVariant number = itemData(found);
        removeItem(found);
        insertItem(0, text, number);
    }
    Select(0);
}

int PathBox::FindListItem(const QString& text, bool select, bool ignoreCase) {
    if (!text.isEmpty()) {
        const Qt::CaseSensitivity cs = ignoreCase ? Qt::CaseInsensitive : Qt::CaseSensitive;
        for (int i = 0; i < count(); ++i) {
            if (itemText(i).compare(text, cs) == 0) {
                if (select)
                    Select(i);
                return i;
            }
        }
    }
    if (select)
        ClearSelection();
    return -1;
}

int PathBox::DropDownWidth() const {
    const QFontMetrics metrics(font());
    int widest = 0;
    for (int i = 0; i < count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(itemText(i)));
    int width = widest + kDropDownMargin;
    if (count() > kEntriesWithoutScrollBar)
        width += style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    return std::max(width, this->width());
}

void PathBox::FitDropDownWidth() {
    view()->setMinimumWidth(DropDownWidth());
}

QStringList PathBox::History() const {
    QStringList entries;
    entries.reserve(count());
    for (int i = 0; i < count(); ++i)
        entries.append(itemText(i));
    return entries;
}

void PathBox::SetHistory(const QStringList& entries) {
    const QString text = currentText();
    clear();
    for (const QString& entry : entries) {
        if (count() == kMaxHistory)
            break;
        if (!entry.isEmpty())
            addItem(entry, 0);
    }
    // Adding the first entry selected it; the list comes without a selection.
    setCurrentIndex(-1);
    setEditText(text);
}

void PathBox::SetPreferredWidth(int width) {
    preferredWidth_ = std::max(width, 0);
    updateGeometry();
}

QSize PathBox::sizeHint() const {
    QSize hint = QComboBox::sizeHint();
    if (preferredWidth_ > 0)
        hint.setWidth(std::max(preferredWidth_, minimumSizeHint().width()));
    return hint;
}

void PathBox::SetText(const QString& text) {
    if (text == currentText())
        return;
    setEditText(text);
    emit TextChanged(text);
}

bool PathBox::event(QEvent* event) {
    // Esc belongs to the box while there is an edit to undo, even when the
    // window has a shortcut on it.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier &&
            lineEdit()->isUndoAvailable()) {
            event->accept();
            return true;
        }
    }
    return QComboBox::event(event);
}

void PathBox::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Not passed on: the base class would select a listed entry equal to
        // the text, and adding to the list is the window's choice.
        event->accept();
        emit EnterPressed();
        return;
    case Qt::Key_Escape:
        if (lineEdit()->isUndoAvailable()) {
            lineEdit()->undo();
            event->accept();
        } else {
            event->ignore();
        }
        return;
    default:
        QComboBox::keyPressEvent(event);
    }
}

void PathBox::dragEnterEvent(QDragEnterEvent* event) {
    if (kind_ != Kind::Filter && !FirstLocalPath(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void PathBox::dropEvent(QDropEvent* event) {
    const QString path = kind_ == Kind::Filter ? QString() : FirstLocalPath(event->mimeData());
    if (path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    SetText(path);
}

void PathBox::showPopup() {
    FitDropDownWidth();
    QComboBox::showPopup();
}

void PathBox::Select(int index) {
    setCurrentIndex(index);
    // setCurrentIndex leaves the text alone when the index was already current.
    if (lineEdit()->text() != itemText(index))
        setEditText(itemText(index));
    emit Picked(index);
}

void PathBox::ClearSelection() {
    const bool hadText = !currentText().isEmpty();
    setCurrentIndex(-1);
    setEditText(QString());
    if (hadText)
        emit TextChanged(QString());
}

} // namespace sorvane::view
