// The playlist panel's grid: a table model over the playlist (no object per
// row, so that a list of a million entries costs only what the list itself
// holds), the grid that shows it, its tooltips, and the grip that makes the
// panel taller.
//
// The model shows every entry, or only the rows of a filter (a search's
// hits) in the filter's order; view rows and the playlist's rows map both ways.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QWidget>

#include <optional>
#include <vector>

namespace wl {

class PlaylistModel;

class TPlaylistTable : public QAbstractTableModel {
    Q_OBJECT
public:
    // Follows `list`'s signals from now on (what it holds already is shown).
    explicit TPlaylistTable(PlaylistModel& list, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    // Column 0: the label ("12. Name"); column 1: the path. Entries that
    // cannot play are greyed; their tooltip says why and names the path.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Only these playlist rows, in this order (rows outside the list are left
    // out); nullopt: every row.
    void SetFilter(std::optional<std::vector<int>> rows);
    bool Filtered() const { return filter_.has_value(); }
    const std::optional<std::vector<int>>& Filter() const { return filter_; }
    // The playlist row shown in view row `viewRow`; -1 outside.
    int ModelRow(int viewRow) const;
    // The view row showing playlist row `modelRow`; -1 when it is not shown.
    int ViewRow(int modelRow) const;

    static inline const QColor kProblemColor{0x55, 0x5E, 0x66};

private:
    void Appended(int first, int last);
    void RowsChanged(int first, int last);
    void RowsRemoved(int first, int count);
    void ListCleared();
    void ListReordered(const std::vector<int>& from);

    PlaylistModel& list_;
    int rows_ = 0;  // the rows the views know of (unfiltered)
    std::optional<std::vector<int>> filter_;
    bool filterSorted_ = true;
};

// The grid: Home and End go to the first and last row (not column), and any
// move the user makes in it (keys, wheel, a press, the scroll bar) is told.
class TPlaylistGrid : public QTableView {
    Q_OBJECT
public:
    explicit TPlaylistGrid(QWidget* parent = nullptr);

signals:
    void UserMoved();

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};

// Long labels elide with "…"; the whole label shows as a tooltip only when it
// did not fit, and an entry's problem always does.
class TPlaylistDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    // The tooltip for `index` laid out in `rect`; empty: none.
    QString TipFor(const QModelIndex& index, const QRect& rect, const QFont& font) const;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

// A strip along the panel's bottom edge: dragging it tells the vertical
// distance from where the drag began (in logical pixels).
class TRowsGrip : public QWidget {
    Q_OBJECT
public:
    explicit TRowsGrip(QWidget* parent = nullptr);

signals:
    void DragStarted();
    void Dragged(int dy);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::optional<int> startY_;  // global y where the drag began
};

}  // namespace wl
