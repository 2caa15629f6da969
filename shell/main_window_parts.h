#pragma once
// What the files of the main window share: its constants, captions and small
// conversions. Only the main window's own files include this.

#include "engine/settings/settings_records.h"
#include "view/color_scheme.h"
#include "view/result_model.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QFont>
#include <QIcon>
#include <QString>

#include <array>
#include <string>

namespace sorvane::shell::window_parts {


inline constexpr int kDataColumns = 10;
inline constexpr int kBandCount = 4;
inline constexpr int kDesignedWidth = 652;
inline constexpr int kDesignedHeight = 354;
inline constexpr int kSmallestWidth = 200;
inline constexpr int kSmallestHeight = 150;
inline const char* const kSettingsChangedNotice =
    "Settings were changed. Perform the scan again to update the results.";
inline const char* const kCopyInterruptedNotice = "Copying was interrupted.";

inline std::string Utf8(const QString& text) { return text.toStdString(); }
inline QString Qt8(const std::string& text) { return QString::fromStdString(text); }

// The ten data columns' captions in the Visible Columns and Arrange by menus.
inline const std::array<const char*, kDataColumns> kColumnCaptions = {
    "Na&me",          "&Extension",      "Source &Language", "&Source Version", "&Comparison",
    "Target &Version", "&Target Language", "&Busy",           "&Description",    "Copy&right"};

inline const std::array<const char*, view::kColorCount> kColorCaptions = {
    "&Background...", "&Regular Text...", "Newer &Source...", "Newer &Target...",
    "&Unequal Language...", "&Different Size...", "&Incomparable...", "&Copied File...",
    "&Orphans..."};

struct ButtonInfo {
    const char* key;
    const char* description;
    const char* tip;
    const char* icon;
    bool checkable;
};

inline const std::array<ButtonInfo, 8> kMainButtons = {{
    {"Scan", "Scan", "Scan (F5)", "scan", false},
    {"Stop", "Stop Scanning", "Stop Scanning (Esc)", "stop", false},
    {"Save", "Save Source Map", "Save Source Map (Ctrl+S)", "save", false},
    {"Recur", "Include Sub-folders", "Include Sub-folders", "recur", true},
    {"Backup", "Backup before Replacement", "Backup before Replacement", "backup", true},
    {"Resize", "Resize Columns", "Resize Columns (F6)", "resize", false},
    {"Find", "Find", "Find... (Ctrl+F)", "find", false},
    {"Synchr", "Copy Source on Target", "Copy Source on Target (F9)", "synchr", false},
}};

// A tool bar icon; on a dark palette its dark strokes are drawn lighter.
inline QIcon Icon(const char* name) {
    const QString path = QStringLiteral(":/icons/%1.svg").arg(name);
    QFile file(path);
    if (!view::IsDarkPalette(QApplication::palette()) || !file.open(QIODevice::ReadOnly))
        return QIcon(path);
    QSvgRenderer renderer(view::ReadableSvg(file.readAll(), QApplication::palette()));
    QIcon icon;
    for (const int size : {16, 20, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// Sets a caption's key text: the text before any tab, a tab, and the key.
inline void SetMenuKeyText(QAction* item, const QString& keyText) {
    QString caption = item->text();
    caption = caption.left(caption.indexOf(QLatin1Char('\t')) < 0
                               ? caption.size()
                               : caption.indexOf(QLatin1Char('\t')));
    item->setText(keyText.isEmpty() ? caption : caption + QLatin1Char('\t') + keyText);
}

inline FontRecord ToRecord(const QFont& font) {
    FontRecord record;
    record.name = Utf8(font.family());
    record.size = font.pointSizeF() > 0 ? font.pointSizeF() : 8;
    record.bold = font.bold();
    record.weight = font.bold() ? 700 : 400;
    record.italic = font.italic();
    record.underline = font.underline();
    record.strikeout = font.strikeOut();
    return record;
}

inline QFont FromRecord(const FontRecord& record) {
    QFont font(Qt8(record.name));
    font.setPointSizeF(record.size > 0 ? record.size : 8);
    // The weight comes first; the bold flag then decides between normal and bold.
    font.setWeight(record.weight >= 600 ? QFont::Bold : QFont::Normal);
    font.setBold(record.bold);
    font.setItalic(record.italic);
    font.setUnderline(record.underline);
    font.setStrikeOut(record.strikeout);
    return font;
}

} // namespace sorvane::shell::window_parts
