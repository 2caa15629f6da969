#include "view/result_view.h"

#include "view/grid_header.h"

#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <array>
#include <optional>
#include <utility>
#include <QMouseEvent>

#include <algorithm>
#include <QEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>

namespace sorvane::view {
namespace {

constexpr int kFillerInterval = 50; // ms

constexpr bool IsDataColumn(int column) {
    return column >= kNameColumn && column <= kCopyrightColumn;
}

constexpr bool IsAlwaysHidden(int column) {
    return column == kRootColumn || column == kSizeColumn;
}

} // namespace

ResultView::ResultView(ResultModel* model, QWidget* parent) : QTableView(parent), model_(model) {
    setHorizontalHeader(new GridHeader(Qt::Horizontal, this));
    setModel(model_);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the grid for the next box, as it leaves any other control;
    // the arrow keys move within it.
    setTabKeyNavigation(false);
    setSortingEnabled(false);
    setWordWrap(false);
    // Scrolling moves by whole rows and columns, as in a grid: the row that
    // SelectRow puts at the top starts right under the header.
    setHorizontalScrollMode(QAbstractItemView::ScrollPerItem);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);

    QHeaderView* rows = verticalHeader();
    rows->hide();
    // One fixed height for every row: nothing is measured per row, however
    // many rows there are.
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    ApplyRowHeight();

    QHeaderView* header = horizontalHeader();
    header->setSectionsMovable(false);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setSortIndicatorShown(false);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setMinimumSectionSize(0);
    header->setDefaultAlignment(Qt::AlignCenter);
    header->viewport()->installEventFilter(this);
    // A width set while an edge is dragged (or double-clicked) is the user's.
    connect(header, &QHeaderView::sectionResized, this, [this](int column, int, int) {
        if (draggingEdge_ && IsDataColumn(column))
            userSized_[static_cast<std::size_t>(column)] = true;
    });

    for (int column = kNameColumn; column <= kCopyrightColumn; ++column)
        setColumnWidth(column, DefaultWidth(column));
    for (const int column : {kRootColumn, kSizeColumn}) {
        setColumnWidth(column, 0);
        setColumnHidden(column, true);
    }
    // The filler's width is always computed, never dragged.
    header->setSectionResizeMode(kFillerColumn, QHeaderView::Fixed);
    setColumnWidth(kFillerColumn, 0);

    ApplyColors();
    connect(model_, &ResultModel::ColorsChanged, this, &ResultView::ApplyColors);
    // Scrolling sideways changes which columns the filler follows.
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &ResultView::FitFillerColumn);
    fillerTimer_.setInterval(kFillerInterval);
    connect(&fillerTimer_, &QTimer::timeout, this, &ResultView::FitFillerColumn);
    fillerTimer_.start();
}

int ResultView::DefaultWidth(int column) {
    switch (column) {
    case kExtColumn:
    case kMarkColumn:
    case kBusyColumn:
        return 32;
    default:
        return IsDataColumn(column) ? 96 : 0;
    }
}

void ResultView::SetColumnVisible(int column, bool visible) {
    if (!IsDataColumn(column))
        return;
    setColumnWidth(column, visible ? FittedWidth(column) : 0);
    if (visible)
        userSized_[static_cast<std::size_t>(column)] = false;
}

bool ResultView::IsColumnVisible(int column) const {
    return ColumnWidthPx(column) > 0;
}

void ResultView::SetColumnWidthPx(int column, int width) {
    if (column < 0 || column >= kGridColumnCount || IsAlwaysHidden(column))
        return;
    setColumnWidth(column, std::max(0, width));
}

int ResultView::ColumnWidthPx(int column) const {
    if (column < 0 || column >= kGridColumnCount || isColumnHidden(column))
        return 0;
    return columnWidth(column);
}

int ResultView::FittedWidth(int column) const {
    return std::max(HeaderHeight() + 4, model_->WidestText(column) + 10);
}

void ResultView::ResizeColumns() {
    for (int column = kNameColumn; column <= kCopyrightColumn; ++column) {
        if (IsColumnVisible(column)) {
            setColumnWidth(column, FittedWidth(column));
            userSized_[static_cast<std::size_t>(column)] = false;
        }
    }
}

void ResultView::FitUnsizedColumns() {
    for (int column = kNameColumn; column <= kCopyrightColumn; ++column) {
        if (IsColumnVisible(column) && !IsColumnUserSized(column))
            setColumnWidth(column, FittedWidth(column));
    }
}

void ResultView::SetColumnUserSized(int column, bool userSized) {
    if (IsDataColumn(column))
        userSized_[static_cast<std::size_t>(column)] = userSized;
}

bool ResultView::IsColumnUserSized(int column) const {
    return IsDataColumn(column) && userSized_[static_cast<std::size_t>(column)];
}

std::string ResultView::UserSizedText() const {
    std::string text;
    for (int column = kNameColumn; column <= kCopyrightColumn; ++column)
        text += IsColumnUserSized(column) ? '1' : '0';
    return text;
}

void ResultView::FitFillerColumn() {
    for (const int column : {kRootColumn, kSizeColumn}) {
        if (!isColumnHidden(column))
            setColumnHidden(column, true);
    }
    // The columns from the first one in view up to the last data column. The
    // viewport is already narrower by the vertical scroll bar when it shows.
    const QHeaderView* header = horizontalHeader();
    const int right = header->sectionPosition(kCopyrightColumn) + columnWidth(kCopyrightColumn);
    const int used = std::max(0, right - header->offset());
    const int available = viewport()->width();
    const int filler = used < available ? available - used : 0;
    if (columnWidth(kFillerColumn) != filler)
        setColumnWidth(kFillerColumn, filler);
}

int ResultView::CurrentRow() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

void ResultView::SelectRow(int row) {
    if (row < 0 || row >= model_->rowCount())
        return;
    // The current cell stays in a column already in view, so selecting never
    // scrolls sideways; a hidden column would also stop the arrow keys.
    int column = columnAt(0);
    if (column < 0 || isColumnHidden(column))
        column = kNameColumn;
    const QModelIndex index = model_->index(row, column);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    scrollTo(index, QAbstractItemView::PositionAtTop);
}

void ResultView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    FitFillerColumn();
}

void ResultView::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        ApplyRowHeight();
}

bool ResultView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == horizontalHeader()->viewport()) {
        // Resizing happens in the moves after a press on an edge, or in a
        // double click on one; the release ends it.
        const auto type = event->type();
        if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
            const auto* press = static_cast<QMouseEvent*>(event);
            draggingEdge_ = press->button() == Qt::LeftButton &&
                            IsOnResizeGrip(press->position().toPoint().x());
        } else if (type == QEvent::MouseButtonRelease) {
            draggingEdge_ = false;
        }
    }
    if (watched == horizontalHeader()->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto* press = static_cast<QMouseEvent*>(event);
        const int x = press->position().toPoint().x();
        const int column = horizontalHeader()->logicalIndexAt(x);
        // A left press on a section's edge starts resizing the column; it
        // must not sort as well.
        const bool resizing = press->button() == Qt::LeftButton && IsOnResizeGrip(x);
        if (IsDataColumn(column) && !resizing)
            emit HeaderClicked(column);
    }
    return QTableView::eventFilter(watched, event);
}

void ResultView::ApplyColors() {
    QPalette colors = palette();
    colors.setColor(QPalette::Base, model_->Colors().color(kBackgroundColor));
    colors.setColor(QPalette::Text, model_->Colors().color(kRegularTextColor));
    setPalette(colors);
}

void ResultView::ApplyRowHeight() {
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
}

int ResultView::HeaderHeight() const {
    // The height the table gives its header when it lays it out, so it is
    // right before the view is first shown as well.
    const QHeaderView* header = horizontalHeader();
    return std::max(header->minimumHeight(), header->sizeHint().height());
}

bool ResultView::IsOnResizeGrip(int x) const {
    // The same zones the header uses to start resizing: a few pixels either
    // side of each boundary between two sections.
    const QHeaderView* header = horizontalHeader();
    const int logical = header->logicalIndexAt(x);
    if (logical < 0)
        return false;
    const int grip = header->style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, header);
    const int left = header->sectionViewportPosition(logical);
    const int right = left + header->sectionSize(logical);
    if (x > right - grip)
        return true;
    if (x >= left + grip)
        return false;
    for (int visual = header->visualIndex(logical) - 1; visual >= 0; --visual) {
        if (!header->isSectionHidden(header->logicalIndex(visual)))
            return true;
    }
    return false;
}

// The character a key of the main keyboard types without Shift, for the
// keys that open the incremental search; nothing for any other key. Shifted
// symbols are taken back to their key on a US layout.
static std::optional<QChar> UnshiftedSearchCharacter(int key) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return QChar(static_cast<char16_t>('a' + (key - Qt::Key_A)));
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return QChar(static_cast<char16_t>(key));
    static const std::pair<int, char> kKeys[] = {
        {Qt::Key_Comma, ','},        {Qt::Key_Less, ','},        {Qt::Key_Minus, '-'},
        {Qt::Key_Underscore, '-'},   {Qt::Key_Period, '.'},      {Qt::Key_Greater, '.'},
        {Qt::Key_Slash, '/'},        {Qt::Key_Question, '/'},    {Qt::Key_QuoteLeft, '`'},
        {Qt::Key_AsciiTilde, '`'},   {Qt::Key_BracketLeft, '['}, {Qt::Key_BraceLeft, '['},
        {Qt::Key_Backslash, '\\'}, {Qt::Key_Bar, '\\'},       {Qt::Key_BracketRight, ']'},
        {Qt::Key_BraceRight, ']'},   {Qt::Key_Apostrophe, '\''}, {Qt::Key_QuoteDbl, '\''},
        {Qt::Key_Exclam, '1'},       {Qt::Key_At, '2'},          {Qt::Key_NumberSign, '3'},
        {Qt::Key_Dollar, '4'},       {Qt::Key_Percent, '5'},     {Qt::Key_AsciiCircum, '6'},
        {Qt::Key_Ampersand, '7'},    {Qt::Key_Asterisk, '8'},    {Qt::Key_ParenLeft, '9'},
        {Qt::Key_ParenRight, '0'},
    };
    for (const auto& [k, c] : kKeys)
        if (k == key)
            return QChar(QLatin1Char(c));
    return std::nullopt;
}

QModelIndex ResultView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    if (action == MoveHome || action == MoveEnd) {
        const int rows = model_->rowCount();
        if (rows < 1)
            return {};
        const QModelIndex current = currentIndex();
        int column = current.isValid() ? current.column() : columnAt(0);
        if (column < 0 || isColumnHidden(column))
            column = kNameColumn;
        return model_->index(action == MoveHome ? 0 : rows - 1, column);
    }
    return QTableView::moveCursor(action, modifiers);
}

void ResultView::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool ctrl = (modifiers & Qt::ControlModifier) != 0;
    if (ctrl && (event->key() == Qt::Key_C || event->key() == Qt::Key_Insert)) {
        event->accept();
        emit CopyRequested();
        return;
    }
    if (!ctrl && (modifiers & (Qt::AltModifier | Qt::KeypadModifier)) == 0) {
        if (const auto character = UnshiftedSearchCharacter(event->key())) {
            event->accept();
            emit SearchKeyPressed(*character);
            return;
        }
    }
    QTableView::keyPressEvent(event);
}

void ResultView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::RightButton) {
        QTableView::mousePressEvent(event);
        return;
    }
    // The row under the pointer becomes current first, as a left click would
    // make it, so the menu's commands act on the row clicked.
    const QModelIndex at = indexAt(event->position().toPoint());
    if (at.isValid())
        selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
    event->accept();
    emit ContextMenuRequested(event->globalPosition().toPoint());
}

// One whole row is selected, always: a drag with a button down neither moves
// the current row nor widens the selection, and a release leaves exactly the
// current row selected.
void ResultView::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() != Qt::NoButton) {
        event->accept();
        return;
    }
    QTableView::mouseMoveEvent(event);
}

void ResultView::mouseReleaseEvent(QMouseEvent* event) {
    QTableView::mouseReleaseEvent(event);
    const QModelIndex current = currentIndex();
    if (current.isValid())
        selectionModel()->select(current, QItemSelectionModel::ClearAndSelect |
                                              QItemSelectionModel::Rows);
}

void ResultView::SetFontKeepingWidths(const QFont& font) {
    std::array<int, kGridColumnCount> widths{};
    for (int i = 0; i < kGridColumnCount; ++i)
        widths[static_cast<std::size_t>(i)] = columnWidth(i);
    setFont(font);
    for (int i = 0; i < kGridColumnCount; ++i)
        setColumnWidth(i, widths[static_cast<std::size_t>(i)]);
}

QIcon ColorSwatch(const QColor& color) {
    QPixmap swatch(10, 10);
    swatch.fill(color);
    QPainter painter(&swatch);
    painter.setPen(Qt::black);
    painter.drawRect(0, 0, 9, 9);
    painter.end();
    return QIcon(swatch);
}

QFont SearchBoxFont(const QFont& gridFont) {
    QFont font(gridFont.family());
    font.setPointSize(8);
    return font;
}

} // namespace sorvane::view
