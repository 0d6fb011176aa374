// Titles from tags: the grid's names and the title strip.
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

#include "app/form1.h"
#include "app/playlist_view.h"
#include "playback/playlist_names.h"

namespace wl {

namespace {

constexpr int kVisibleRows = 6;
constexpr int kScanIntervalMs = 5;
constexpr int kScanSliceMs = 15;  // reading per tick, so that the window stays responsive

}  // namespace

QString TForm1::EntryName(const QString& path) const {
    if (IsStreamUrl(path)) return path;  // no file name to show
    if (Extra.TitlesFromTags) {
        if (const auto title = TagTitles.Cached(path); title && !title->isEmpty()) return *title;
    }
    return DisplayName(path);
}

QString TForm1::TitleFor(const QString& path) {
    if (IsStreamUrl(path)) return path;  // no tags to read before it plays
    if (Extra.TitlesFromTags && !path.isEmpty()) {
        const QString title = TagTitles.Get(path);
        if (!title.isEmpty()) return title;
    }
    return TitleFromPath(path);
}

void TForm1::ShowEntryName(int row) {
    if (row < 0 || row >= Playlist.Rows()) return;
    const TPlaylistEntry entry = Playlist.Entry(row);
    const QString& path = entry.Path;
    // A station keeps the name its list gave it (its title, else its URL).
    if (path.isEmpty() || IsStreamUrl(path)) return;
    // A sheet's track keeps its own name; a title a list gave stands until
    // the tags give one.
    if (!PlaylistModel::OwnName(entry).isEmpty()) {
        if (!entry.Range.Whole() || !Extra.TitlesFromTags) return;
        const auto tag = TagTitles.Cached(path);
        if (!tag || tag->isEmpty()) return;
    }
    Playlist.SetName(row, EntryName(path));
}

void TForm1::ScheduleTagScan() {
    if (!Extra.TitlesFromTags) return;
    if (!tagTimer_) {
        tagTimer_ = new QTimer(this);
        tagTimer_->setInterval(kScanIntervalMs);
        connect(tagTimer_, &QTimer::timeout, this, [this] { ScanTagTitles(); });
    }
    if (!tagTimer_->isActive()) tagTimer_->start();
}

bool TForm1::TagScanPending() const { return tagTimer_ && tagTimer_->isActive(); }

void TForm1::ScanTagTitles() {
    if (!Extra.TitlesFromTags || PlaylistEmpty()) {
        if (tagTimer_) tagTimer_->stop();
        return;
    }
    QElapsedTimer slice;
    slice.start();
    const int rows = Playlist.Rows();
    // A path read before (it may stand in the list more than once) only
    // needs its row renamed.
    auto read = [this](int row) {
        const QString path = Playlist.Path(row);
        if (path.isEmpty()) return;
        const auto cached = TagTitles.Cached(path);
        if (cached ? !cached->isEmpty() : !TagTitles.Get(path).isEmpty()) ShowEntryName(row);
    };
    const int top = TopRow();
    for (int r = std::max(0, top); r < std::min(rows, top + kVisibleRows); ++r) read(r);
    tagScanRow_ = std::clamp(tagScanRow_, 0, rows);
    while (tagScanRow_ < rows && slice.elapsed() < kScanSliceMs) read(tagScanRow_++);
    if (tagScanRow_ >= rows && tagTimer_) tagTimer_->stop();
}

void TForm1::TitlesOptionChanged() {
    if (PlaylistEmpty()) return;
    if (sg1) sg1->setUpdatesEnabled(false);
    for (int r = 0; r < Playlist.Rows(); ++r) ShowEntryName(r);
    if (sg1) sg1->setUpdatesEnabled(true);
    tagScanRow_ = 0;
    ScheduleTagScan();
}

}  // namespace wl
