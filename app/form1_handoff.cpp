// The files a later start hands over (single_instance.h says how they apply).
#include <QFileInfo>

#include <cstdlib>

#include "app/form1.h"
#include "app/single_instance.h"
#include "playback/cue_sheet.h"
#include "playback/list_loader.h"
#include "playback/playlist_names.h"
#include "playback/station_list.h"

namespace wl {

void TForm1::HandOver(const QStringList& arguments, int64_t startedMs) {
    if (quitting_) return;
    if (arguments.isEmpty() || arguments.first().isEmpty()) {
        RaiseWindow();
        return;
    }
    // One at a time: a list still being read is put in first.
    if (Playlist.Loader().Busy()) {
        Playlist.Loader().After([this, arguments, startedMs] { HandOver(arguments, startedMs); });
        return;
    }
    const bool burst = lastHandOffMs_ && std::llabs(startedMs - *lastHandOffMs_) < kHandOffBurstMs;
    const QString& first = arguments.first();
    const int before = RowsBeforeAdding();

    if (arguments.size() == 1 && IsListFilePath(first) && !IsStreamUrl(first)) {
        // Read on a worker (its relative entries name files beside it); a
        // list without entries leaves the list as it is, and says why.
        TListLoader::TFollow follow = TListLoader::StartOnce(
            [this, startedMs] {
                if (quitting_) return;
                lastHandOffMs_ = startedMs;
                StartFirstEntry();
            },
            Controller->Options().Random, [] {});
        Playlist.Loader().Start(first, TListKind::Any, TLoadMode::ReplaceIfAny, std::move(follow));
        return;
    }

    QStringList files;
    QStringList left;  // the other arguments' names
    for (const QString& argument : arguments) {
        if (PlaylistModel::Playable(argument)) {
            files.append(argument);  // an MP3 file or a stream URL
        } else {
            left.append(QFileInfo(argument).fileName());
        }
    }
    if (files.isEmpty()) {
        ShowError("Not an MP3 file: " + left.join(", "));
        return;
    }
    lastHandOffMs_ = startedMs;
    const bool append = burst && !PlaylistEmpty();
    if (!append) ClearPlaylist();
    int full = 0;
    for (const QString& file : files) {
        if (!Playlist.AddEntry(file)) ++full;
    }
    if (append) {
        FinishAdding(before);
    } else {
        StartFirstEntry();
    }
    if (full > 0) {
        ShowError(QStringLiteral("The playlist is full: %1 file(s) not added").arg(full));
    } else if (!left.isEmpty()) {
        ShowError("Not an MP3 file, left out: " + left.join(", "));
    }
}

}  // namespace wl
