// Titles from tags: the grid's names and the title strip, from the tags the
// tag scan puts into the list.
#include <QScrollBar>

#include "app/form1.h"
#include "app/playlist_view.h"
#include "playback/playlist_names.h"

namespace wl {

namespace {

// "Artist - Title" (just the title without an artist); empty without a title.
QString TagName(const TEntryTags& tags) {
    if (tags.Title.isEmpty()) return {};
    return tags.Artist.isEmpty() ? tags.Title : tags.Artist + QStringLiteral(" - ") + tags.Title;
}

}  // namespace

QString TForm1::EntryName(const QString& path) const {
    if (IsStreamUrl(path)) return path;  // no file name to show
    if (Extra.TitlesFromTags) {
        if (const auto it = tagNames_.constFind(path); it != tagNames_.cend()) return *it;
    }
    return DisplayName(path);
}

QString TForm1::TitleFor(const QString& path) {
    if (IsStreamUrl(path)) return path;  // no tags to read before it plays
    if (Extra.TitlesFromTags && !path.isEmpty()) {
        // The entry starting is the current one: its tags once they were read.
        const TPlaylistEntry current = Playlist.Entry(CurrentEntry - 1);
        if (current.Path == path && current.Tags.Known) {
            const QString name = TagName(current.Tags);
            return name.isEmpty() ? TitleFromPath(path) : name;
        }
        if (const auto it = tagNames_.constFind(path); it != tagNames_.cend()) return *it;
        // Not read yet: this one file's head and tail, when it is there (a
        // name in another case is the scan's to look for).
        if (StatRegularFile(path)) {
            const QString name = TagName(ReadFileTags(path));
            if (!name.isEmpty()) return name;
        }
    }
    return TitleFromPath(path);
}

void TForm1::ShowEntryName(int row) {
    if (row < 0 || row >= Playlist.Rows()) return;
    const TPlaylistEntry entry = Playlist.Entry(row);
    const QString& path = entry.Path;
    // A station keeps the name its list gave it (its title, else its URL).
    if (path.isEmpty() || IsStreamUrl(path)) return;
    const QString tagName = Extra.TitlesFromTags ? TagName(entry.Tags) : QString();
    // A sheet's track keeps its own name; a title a list gave stands until
    // the tags give one.
    if (!PlaylistModel::OwnName(entry).isEmpty() && (!entry.Range.Whole() || tagName.isEmpty())) return;
    Playlist.SetName(row, tagName.isEmpty() ? DisplayName(path) : tagName);
}

void TForm1::TagsRead(int row) {
    const TPlaylistEntry entry = Playlist.Entry(row);
    const QString name = TagName(entry.Tags);
    if (name.isEmpty()) {
        tagNames_.remove(entry.Path);
    } else {
        tagNames_.insert(entry.Path, name);
    }
    if (Extra.TitlesFromTags) ShowEntryName(row);
}

// The list's rows from the grid's first on (with a filter: from the first
// hit shown; the others may lie further down the list).
void TForm1::ShowTagScanRows() {
    if (!tagScan_) return;
    const int top = PlaylistTable ? PlaylistTable->ModelRow(TopRow()) : TopRow();
    if (top >= 0) tagScan_->ShowingRows(top, top + VisibleRows() - 1);
}

void TForm1::ScheduleTagScan() {
    if (!tagScan_) {
        tagScan_ = std::make_unique<TTagScan>(Playlist, TTagCache::DefaultPath());
        connect(tagScan_.get(), &TTagScan::TagsRead, this, [this](int row) { TagsRead(row); });
        connect(&Playlist, &PlaylistModel::Cleared, tagScan_.get(), [this] { tagNames_.clear(); });
        if (sg1) connect(sg1->verticalScrollBar(), &QScrollBar::valueChanged, tagScan_.get(), [this] { ShowTagScanRows(); });
    }
    ShowTagScanRows();
    tagScan_->Request();
}

bool TForm1::TagScanPending() const { return tagScan_ && tagScan_->Pending(); }

void TForm1::TitlesOptionChanged() {
    if (PlaylistEmpty()) return;
    if (sg1) sg1->setUpdatesEnabled(false);
    for (int r = 0; r < Playlist.Rows(); ++r) ShowEntryName(r);
    if (sg1) sg1->setUpdatesEnabled(true);
    ScheduleTagScan();
}

}  // namespace wl
