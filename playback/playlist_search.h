// Finding entries of the playlist as the user types: every space-separated
// word of the query must occur in the entry's title, artist, album, file name
// or shown name, regardless of case and accents ("hendrix train" finds
// "Jimi Hendrix – Mystery Train", "beyonce" finds "Beyoncé").
//
// The searcher keeps each row's words folded once (FoldForSearch) and follows
// the model's signals, refolding only the rows that changed; a query that
// extends the previous one searches that one's hits only.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "playback/playlist_model.h"

namespace wl {

// `text` folded for matching, as UTF-8: case folded (ß as "ss"), compatibility
// forms decomposed ("ﬁ" as "fi"), combining marks dropped ("é" as "e"), and a
// few letters with a stroke or ligature spelled as their plain letters
// ("ø" as "o", "æ" as "ae").
std::string FoldForSearch(QStringView text);
// The same, appended to `out`.
void AppendFoldedForSearch(QStringView text, std::string& out);

// The words of a query (split at white space), folded; none for a blank query.
std::vector<std::string> SearchWords(const QString& query);

// What an entry is found by: its title, artist and album (the file's tags
// where they say, else what the list said), its file name and its shown
// name, each folded, separated by a line end (no query word holds one).
std::string SearchHaystack(const TPlaylistEntry& entry);

class TPlaylistSearch : public QObject {
    Q_OBJECT
public:
    // Indexes every row of `model` now and follows its changes. The model
    // must outlive the searcher.
    explicit TPlaylistSearch(const PlaylistModel& model, QObject* parent = nullptr);

    // The rows (0-based, ascending) whose entry holds every word of `query`;
    // every row for a query without words.
    std::vector<int> Find(const QString& query);
    // Rows indexed (the model's rows).
    int Rows() const { return static_cast<int>(rows_.size()); }
    // Row `row`'s folded text (tests, diagnostics); empty outside the list.
    std::string_view Haystack(int row) const;

signals:
    // The index followed a change of the model: a shown result is to be
    // searched anew. `rowsMoved`: rows were removed or moved, so earlier
    // results may name other entries now (else texts changed or rows were
    // appended).
    void IndexChanged(bool rowsMoved);

private:
    struct TRow {
        size_t start = 0;
        uint32_t size = 0;
        size_t inputs = 0;  // InputsHash of the entry folded
    };
    void Rebuild();
    void Refold(int first, int last);
    void Append(int first, int last);
    void Erase(int first, int count);
    void Permute(const std::vector<int>& from);
    void Store(TRow& row, const std::string& text);
    void Compact();
    void Invalidate(bool rowsMoved);
    bool Holds(const TRow& row, const std::vector<std::string>& words) const;

    const PlaylistModel& model_;
    std::string text_;  // every row's folded text, one after another
    size_t garbage_ = 0;  // bytes of text_ no row uses any more
    std::vector<TRow> rows_;
    // The last query's words and hits, for narrowing; valid while lastValid_.
    std::vector<std::string> lastWords_;
    std::vector<int> lastHits_;
    bool lastValid_ = false;
    bool rebuilt_ = false;  // since the last IndexChanged
};

}  // namespace wl
