#pragma once
// Readable failure messages for the Qt values the view tests compare.

#include <ostream>
#include <QColor>
#include <QString>

inline void PrintTo(const QColor& color, std::ostream* out) {
    *out << color.name(QColor::HexArgb).toStdString();
}

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
