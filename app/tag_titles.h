// Display titles of playlist entries taken from their tags: "Artist - Title"
// when the file has a title tag (just the title when it has no artist), an
// empty text when it has none. Tags are read without decoding (the media
// information reader over the file's head and tail) and kept per path, so
// each file is read once.
#pragma once

#include <QHash>
#include <QString>

#include <optional>

namespace wl {

// The tag title of one file; empty when it has no title tag or cannot be read.
QString ReadTagTitle(const QString& path);

class TTagTitles {
public:
    // The title already read for `path`; nothing when it has not been read.
    std::optional<QString> Cached(const QString& path) const;
    // The title, read now when it has not been read before.
    QString Get(const QString& path);
    void Clear() { titles_.clear(); }

private:
    QHash<QString, QString> titles_;
};

}  // namespace wl
