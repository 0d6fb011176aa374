#include "playback/playlist_search.h"

#include <QRegularExpression>

#include <algorithm>

#include "playback/playlist_names.h"

namespace wl {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Letters that neither decompose nor fold into plain letters, as they are
// spelled without the stroke or ligature (after case folding).
const char* PlainSpelling(char32_t c) {
    switch (c) {
    case U'ß': return "ss";
    case U'ø': return "o";
    case U'ł': return "l";
    case U'đ': return "d";
    case U'ħ': return "h";
    case U'ı': return "i";
    case U'æ': return "ae";
    case U'œ': return "oe";
    case U'þ': return "th";
    default: return nullptr;
    }
}

bool IsMark(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing: return true;
    default: return false;
    }
}

}  // namespace

namespace {

// One character folded onto `out`. Decomposing character by character gives
// what decomposing the whole text gives once the marks are dropped (the
// order of marks is all that differs).
void FoldChar(char32_t c, std::string& out, int depth = 0) {
    if (c < 0x80) {
        out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
        return;
    }
    if (IsMark(c) || depth > 8) return;
    if (QChar::decompositionTag(c) != QChar::NoDecomposition) {
        const QString parts = QChar::decomposition(c);
        for (const char32_t part : parts.toUcs4()) FoldChar(part, out, depth + 1);
        return;
    }
    const char32_t folded = QChar::toCaseFolded(c);
    if (folded != c) {
        FoldChar(folded, out, depth + 1);
    } else if (const char* plain = PlainSpelling(c)) {
        out += plain;
    } else {
        AppendUtf8(out, c);
    }
}

}  // namespace

void AppendFoldedForSearch(QStringView text, std::string& out) {
    const char16_t* data = text.utf16();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        char32_t c = data[i];
        if (c < 0x80) {
            out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(data[i + 1])) {
            c = QChar::surrogateToUcs4(data[i], data[i + 1]);
            ++i;
        }
        FoldChar(c, out);
    }
}

std::string FoldForSearch(QStringView text) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    AppendFoldedForSearch(text, out);
    return out;
}

std::vector<std::string> SearchWords(const QString& query) {
    std::vector<std::string> words;
    static const QRegularExpression kSpace(QStringLiteral("\\s+"));
    for (const QString& word : query.split(kSpace, Qt::SkipEmptyParts)) {
        std::string folded = FoldForSearch(word);
        if (!folded.empty()) words.push_back(std::move(folded));
    }
    return words;
}

namespace {

void AddField(std::string& hay, QStringView field) {
    if (field.isEmpty()) return;
    if (!hay.empty()) hay += '\n';
    AppendFoldedForSearch(field, hay);
}

}  // namespace

std::string SearchHaystack(const TPlaylistEntry& entry) {
    const TEntryTags& tags = entry.Tags;
    const TEntryMeta& meta = entry.Meta;
    std::string hay;
    hay.reserve(128);
    AddField(hay, !tags.Title.isEmpty() ? tags.Title : meta.Title);
    AddField(hay, !tags.Artist.isEmpty() ? tags.Artist : meta.Artist);
    AddField(hay, !tags.Album.isEmpty() ? tags.Album : meta.Album);
    if (!IsStreamUrl(entry.Path)) AddField(hay, FileNamePart(entry.Path));
    // The shown name, unless the fields above already hold it (it mostly
    // repeats them: "Artist - Title", the file's name).
    if (!entry.Name.isEmpty()) {
        const std::string name = FoldForSearch(entry.Name);
        if (hay.find(name) == std::string::npos) {
            if (!hay.empty()) hay += '\n';
            hay += name;
        }
    }
    return hay;
}

// ----------------------------------------------------------------- searcher

namespace {

// What a row's text is made of, hashed: a row whose inputs hash alike needs
// no folding again (the list tells every row changed when it renumbers).
size_t InputsHash(const TPlaylistEntry& e) {
    return qHashMulti(0, e.Tags.Title, e.Tags.Artist, e.Tags.Album, e.Meta.Title, e.Meta.Artist, e.Meta.Album,
                      e.Path, e.Name);
}

}  // namespace

TPlaylistSearch::TPlaylistSearch(const PlaylistModel& model, QObject* parent) : QObject(parent), model_(model) {
    Rebuild();
    connect(&model, &PlaylistModel::Added, this, [this](int first, int last) {
        Append(first, last);
        Invalidate(false);
    });
    connect(&model, &PlaylistModel::Changed, this, [this](int first, int last) {
        Refold(first, last);
        Invalidate(false);
    });
    connect(&model, &PlaylistModel::Removed, this, [this](int first, int count) {
        Erase(first, count);
        Invalidate(true);
    });
    connect(&model, &PlaylistModel::Cleared, this, [this] {
        Rebuild();
        Invalidate(true);
    });
    connect(&model, &PlaylistModel::Reordered, this, [this](const std::vector<int>& from) {
        Permute(from);
        Invalidate(true);
    });
}

void TPlaylistSearch::Invalidate(bool rowsMoved) {
    lastValid_ = false;
    lastWords_.clear();
    lastHits_.clear();
    const bool rebuilt = rebuilt_;
    rebuilt_ = false;
    emit IndexChanged(rowsMoved || rebuilt);
}

void TPlaylistSearch::Store(TRow& row, const std::string& text) {
    garbage_ += row.size;
    row.start = text_.size();
    row.size = static_cast<uint32_t>(text.size());
    text_ += text;
}

void TPlaylistSearch::Compact() {
    if (garbage_ < 1'000'000 || garbage_ < text_.size() / 2) return;
    std::string packed;
    packed.reserve(text_.size() - garbage_);
    for (TRow& row : rows_) {
        const size_t start = packed.size();
        packed.append(text_, row.start, row.size);
        row.start = start;
    }
    text_ = std::move(packed);
    garbage_ = 0;
}

void TPlaylistSearch::Rebuild() {
    rebuilt_ = true;
    text_.clear();
    garbage_ = 0;
    rows_.clear();
    if (!model_.Empty()) Append(0, model_.Rows() - 1);
}

void TPlaylistSearch::Append(int first, int last) {
    // The model tells appended rows; anything else is read anew.
    if (first != Rows() || last < first || last >= model_.Rows()) {
        Rebuild();
        return;
    }
    rows_.resize(static_cast<size_t>(last) + 1);
    for (int r = first; r <= last; ++r) {
        TRow& row = rows_[static_cast<size_t>(r)];
        row.start = text_.size();
        row.size = 0;
        const TPlaylistEntry entry = model_.Entry(r);
        row.inputs = InputsHash(entry);
        Store(row, SearchHaystack(entry));
    }
}

void TPlaylistSearch::Refold(int first, int last) {
    if (Rows() != model_.Rows()) {
        Rebuild();
        return;
    }
    first = std::max(first, 0);
    last = std::min(last, Rows() - 1);
    for (int r = first; r <= last; ++r) {
        TRow& row = rows_[static_cast<size_t>(r)];
        const TPlaylistEntry entry = model_.Entry(r);
        const size_t inputs = InputsHash(entry);
        if (inputs == row.inputs) continue;
        row.inputs = inputs;
        Store(row, SearchHaystack(entry));
    }
    Compact();
}

void TPlaylistSearch::Erase(int first, int count) {
    if (first < 0 || count < 0 || first + count > Rows() || Rows() - count != model_.Rows()) {
        Rebuild();
        return;
    }
    for (int r = first; r < first + count; ++r) garbage_ += rows_[static_cast<size_t>(r)].size;
    rows_.erase(rows_.begin() + first, rows_.begin() + first + count);
    Compact();
}

void TPlaylistSearch::Permute(const std::vector<int>& from) {
    if (static_cast<int>(from.size()) != model_.Rows() && !(from.empty() && model_.Empty())) {
        Rebuild();
        return;
    }
    std::vector<TRow> moved;
    moved.reserve(from.size());
    size_t kept = 0;
    for (const int r : from) {
        if (r < 0 || r >= Rows()) {
            Rebuild();
            return;
        }
        moved.push_back(rows_[static_cast<size_t>(r)]);
        kept += moved.back().size;
    }
    rows_ = std::move(moved);
    // What the removed rows held (a row is moved at most once).
    garbage_ = text_.size() - kept;
    Compact();
}

std::string_view TPlaylistSearch::Haystack(int row) const {
    if (row < 0 || row >= Rows()) return {};
    const TRow& r = rows_[static_cast<size_t>(row)];
    return std::string_view(text_).substr(r.start, r.size);
}

bool TPlaylistSearch::Holds(const TRow& row, const std::vector<std::string>& words) const {
    const std::string_view hay = std::string_view(text_).substr(row.start, row.size);
    for (const std::string& word : words) {
        if (hay.find(word) == std::string_view::npos) return false;
    }
    return true;
}

std::vector<int> TPlaylistSearch::Find(const QString& query) {
    std::vector<std::string> words = SearchWords(query);
    // The longest words first: they rule out the most rows soonest.
    std::stable_sort(words.begin(), words.end(),
                     [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    // A query whose every earlier word lies within one of its words finds a
    // subset of the earlier hits.
    bool narrows = lastValid_;
    for (size_t i = 0; narrows && i < lastWords_.size(); ++i) {
        narrows = std::any_of(words.begin(), words.end(), [&](const std::string& word) {
            return word.find(lastWords_[i]) != std::string::npos;
        });
    }
    std::vector<int> hits;
    if (narrows) {
        for (const int r : lastHits_) {
            if (Holds(rows_[static_cast<size_t>(r)], words)) hits.push_back(r);
        }
    } else {
        const int rows = Rows();
        for (int r = 0; r < rows; ++r) {
            if (Holds(rows_[static_cast<size_t>(r)], words)) hits.push_back(r);
        }
    }
    lastWords_ = std::move(words);
    lastHits_ = hits;
    lastValid_ = true;
    return hits;
}

}  // namespace wl
