#include "app/playlist_view.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>

#include "playback/playlist_model.h"

namespace wl {

// ------------------------------------------------------------------- model

TPlaylistTable::TPlaylistTable(PlaylistModel& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list), rows_(list.Rows()) {
    connect(&list_, &PlaylistModel::Added, this, &TPlaylistTable::Appended);
    connect(&list_, &PlaylistModel::Changed, this, &TPlaylistTable::RowsChanged);
    connect(&list_, &PlaylistModel::Removed, this, &TPlaylistTable::RowsRemoved);
    connect(&list_, &PlaylistModel::Cleared, this, &TPlaylistTable::ListCleared);
    connect(&list_, &PlaylistModel::Reordered, this, &TPlaylistTable::ListReordered);
}

int TPlaylistTable::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return filter_ ? static_cast<int>(filter_->size()) : rows_;
}

int TPlaylistTable::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant TPlaylistTable::data(const QModelIndex& index, int role) const {
    const int row = index.isValid() ? ModelRow(index.row()) : -1;
    if (row < 0) return {};
    switch (role) {
    case Qt::DisplayRole:
        return index.column() == 0 ? list_.Label(row) : list_.Path(row);
    case Qt::ToolTipRole: {
        const TPlaylistEntry entry = list_.Entry(row);
        if (entry.Path.isEmpty()) return {};
        if (!entry.Problem.isEmpty()) return entry.Problem + QLatin1Char('\n') + entry.Path;
        return index.column() == 0 ? list_.Label(row) : entry.Path;
    }
    case Qt::ForegroundRole:
        if (!list_.Entry(row).Problem.isEmpty()) return kProblemColor;
        return {};
    default:
        return {};
    }
}

void TPlaylistTable::SetFilter(std::optional<std::vector<int>> rows) {
    beginResetModel();
    rows_ = list_.Rows();
    if (rows) {
        std::erase_if(*rows, [this](int r) { return r < 0 || r >= rows_; });
        filterSorted_ = std::is_sorted(rows->begin(), rows->end());
    }
    filter_ = std::move(rows);
    endResetModel();
}

int TPlaylistTable::ModelRow(int viewRow) const {
    if (filter_) return viewRow >= 0 && viewRow < static_cast<int>(filter_->size()) ? (*filter_)[viewRow] : -1;
    return viewRow >= 0 && viewRow < rows_ ? viewRow : -1;
}

int TPlaylistTable::ViewRow(int modelRow) const {
    if (!filter_) return modelRow >= 0 && modelRow < rows_ ? modelRow : -1;
    const auto& rows = *filter_;
    const auto found = filterSorted_ ? std::lower_bound(rows.begin(), rows.end(), modelRow)
                                     : std::find(rows.begin(), rows.end(), modelRow);
    return found != rows.end() && *found == modelRow ? static_cast<int>(found - rows.begin()) : -1;
}

// The list has appended (or, replacing an entry by several, grown by) rows:
// the views learn of them in one step. A filter shows only what it names.
void TPlaylistTable::Appended(int, int) {
    const int now = list_.Rows();
    if (filter_) {
        rows_ = now;
        return;
    }
    if (now < rows_) {  // not an append after all
        beginResetModel();
        rows_ = now;
        endResetModel();
        return;
    }
    if (now == rows_) return;
    beginInsertRows({}, rows_, now - 1);
    rows_ = now;
    endInsertRows();
}

void TPlaylistTable::RowsChanged(int first, int last) {
    const int shown = rowCount();
    if (shown == 0) return;
    if (filter_) {  // the views repaint only what they show
        emit dataChanged(index(0, 0), index(shown - 1, 1));
        return;
    }
    first = std::max(first, 0);
    last = std::min(last, shown - 1);
    if (first <= last) emit dataChanged(index(first, 0), index(last, 1));
}

void TPlaylistTable::RowsRemoved(int first, int count) {
    const int now = list_.Rows();
    if (filter_) {
        beginResetModel();
        std::vector<int> kept;
        kept.reserve(filter_->size());
        for (const int r : *filter_) {
            if (r < first) {
                kept.push_back(r);
            } else if (r >= first + count) {
                kept.push_back(r - count);
            }
        }
        filter_ = std::move(kept);
        rows_ = now;
        endResetModel();
        return;
    }
    if (count <= 0 || first < 0 || first + count > rows_ || rows_ - count != now) {
        beginResetModel();
        rows_ = now;
        endResetModel();
        return;
    }
    beginRemoveRows({}, first, first + count - 1);
    rows_ = now;
    endRemoveRows();
}

// Sorted or tidied: every row anew; a filter keeps the entries it showed
// that are still there, at their new rows in list order.
void TPlaylistTable::ListReordered(const std::vector<int>& from) {
    beginResetModel();
    rows_ = list_.Rows();
    if (filter_) {
        std::vector<int> newOf;
        for (size_t r = 0; r < from.size(); ++r) {
            const auto old = static_cast<size_t>(std::max(from[r], 0));
            if (old >= newOf.size()) newOf.resize(old + 1, -1);
            newOf[old] = static_cast<int>(r);
        }
        std::vector<int> kept;
        for (const int r : *filter_) {
            if (r >= 0 && static_cast<size_t>(r) < newOf.size() && newOf[static_cast<size_t>(r)] >= 0)
                kept.push_back(newOf[static_cast<size_t>(r)]);
        }
        std::sort(kept.begin(), kept.end());
        filter_ = std::move(kept);
        filterSorted_ = true;
    }
    endResetModel();
}

void TPlaylistTable::ListCleared() {
    beginResetModel();
    rows_ = 0;
    if (filter_) filter_->clear();
    endResetModel();
}

// -------------------------------------------------------------------- grid

TPlaylistGrid::TPlaylistGrid(QWidget* parent) : QTableView(parent) {
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this](int) { emit UserMoved(); });
}

QModelIndex TPlaylistGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const int rows = model() ? model()->rowCount() : 0;
    if (rows > 0 && (action == MoveHome || action == MoveEnd)) {
        return model()->index(action == MoveHome ? 0 : rows - 1, 0);
    }
    return QTableView::moveCursor(action, modifiers);
}

// The grid does not scroll by itself as its current row changes (the window
// places it); a move by the keys brings the row into sight.
void TPlaylistGrid::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        emit UserMoved();
        QTableView::keyPressEvent(event);
        if (currentIndex().isValid()) scrollTo(currentIndex());
        return;
    default:
        QTableView::keyPressEvent(event);
    }
}

void TPlaylistGrid::wheelEvent(QWheelEvent* event) {
    emit UserMoved();
    QTableView::wheelEvent(event);
}

void TPlaylistGrid::mousePressEvent(QMouseEvent* event) {
    emit UserMoved();
    QTableView::mousePressEvent(event);
}

// ---------------------------------------------------------------- tooltips

QString TPlaylistDelegate::TipFor(const QModelIndex& index, const QRect& rect, const QFont& font) const {
    const QString tip = index.data(Qt::ToolTipRole).toString();
    if (tip.isEmpty() || index.data(Qt::ForegroundRole).isValid()) return tip;
    // The item's text has a few pixels of margin on either side.
    constexpr int kMargins = 8;
    return QFontMetrics(font).horizontalAdvance(index.data().toString()) > rect.width() - kMargins ? tip : QString();
}

bool TPlaylistDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) {
    if (!event || !view || event->type() != QEvent::ToolTip) {
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    const QString tip = TipFor(index, option.rect, option.font);
    if (tip.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(event->globalPos(), tip, view->viewport(), option.rect);
    }
    return true;
}

// -------------------------------------------------------------------- grip

TRowsGrip::TRowsGrip(QWidget* parent) : QWidget(parent) {
    setCursor(Qt::SizeVerCursor);
    setAttribute(Qt::WA_Hover);
}

void TRowsGrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor line = underMouse() || startY_ ? QColor(0x6A, 0x9A, 0xC0) : QColor(0x2E, 0x4A, 0x64);
    p.setPen(QPen(line, 1.0));
    const qreal mid = width() / 2.0;
    const qreal top = height() / 2.0 - 1.5;
    for (int i = 0; i < 2; ++i) p.drawLine(QPointF(mid - 14, top + 0.5 + 3 * i), QPointF(mid + 14, top + 0.5 + 3 * i));
}

void TRowsGrip::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    startY_ = qRound(event->globalPosition().y());
    emit DragStarted();
    update();
}

void TRowsGrip::mouseMoveEvent(QMouseEvent* event) {
    if (!startY_) return QWidget::mouseMoveEvent(event);
    emit Dragged(qRound(event->globalPosition().y()) - *startY_);
}

void TRowsGrip::mouseReleaseEvent(QMouseEvent* event) {
    if (!startY_) return QWidget::mouseReleaseEvent(event);
    emit Dragged(qRound(event->globalPosition().y()) - *startY_);
    startY_.reset();
    update();
}

}  // namespace wl
