// The playlist reader over arbitrary bytes: DecodePlaylistText (any
// encoding, CR LF / LF / CR line ends, byte-order mark), NormalizeEntry on
// every line (file: URLs, Windows paths and drives), ResolveEntryPath inside
// a scratch folder holding a few files whose names differ in case, and
// ReadPlaylistFile on the bytes as a file, which must give what the parts
// give. Entries a playlist can hold (not empty, not a comment, no leading
// byte-order mark, not "/C:...", already normalized) must read back as they
// were written by WritePlaylistFile.
#include <QDir>
#include <QFile>
#include <QStringList>

#include "playback/m3u.h"
#include "fuzz/harness.h"
#include "fuzz/qt_scratch.h"

namespace wl::fuzz {

namespace {

// <scratch>/m3u/list: the playlist's folder, with Sub/B.mp3, a.mp3, a
// non-ASCII name, and a folder beside it.
const QString& PlaylistFolder() {
    static const QString folder = [] {
        const QString root = ScratchFolder() + QStringLiteral("/m3u");
        const QString list = root + QStringLiteral("/list");
        QDir().mkpath(list + QStringLiteral("/Sub"));
        QDir().mkpath(root + QStringLiteral("/Other"));
        for (const QString& name : {list + QStringLiteral("/Sub/B.mp3"), list + QStringLiteral("/a.mp3"),
                                    list + QString::fromUtf8("/\u00dcber \u00e9t\u00e9.MP3"),
                                    root + QStringLiteral("/Other/c.mp3")}) {
            QFile file(name);
            if (file.open(QIODevice::WriteOnly)) file.write("x");
        }
        return list;
    }();
    return folder;
}

// Resolving walks the file system: only entries that stay inside the
// scratch folder (at most one "..") are resolved, and at most a few per input.
bool StaysInside(const QString& entry) {
    return entry.size() <= 256 && entry.split(QLatin1Char('/')).count(QStringLiteral("..")) <= 1;
}

}  // namespace

void M3uInput(const uint8_t* data, size_t size) {
    if (size > 1 << 14) return;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList lines = DecodePlaylistText(bytes);
    if (lines.size() > static_cast<qsizetype>(size) + 1) __builtin_trap();
    QStringList expected;
    int resolved = 0;
    for (const QString& line : lines) {
        if (line.contains(QLatin1Char('\n')) || line.contains(QLatin1Char('\r'))) __builtin_trap();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        const QString entry = NormalizeEntry(line);
        expected.append(entry);
        if (resolved < 8 && StaysInside(entry)) {
            ++resolved;
            QString relative = entry;
            while (relative.startsWith(QLatin1Char('/'))) relative.remove(0, 1);
            (void)ResolveEntryPath(PlaylistFolder() + QLatin1Char('/') + relative);
        }
    }

    const QString path = PlaylistFolder() + QStringLiteral("/input.m3u");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) return;
    file.close();
    if (ReadPlaylistFile(path, true) != expected) __builtin_trap();

    QStringList kept;
    for (const QString& entry : expected) {
        // "/C:..." as a URL is a Windows path by the reader's rule: not kept.
        const bool driveAfterSlash = entry.size() >= 3 && entry[0] == QLatin1Char('/') && entry[1].isLetter() &&
                                     entry[2] == QLatin1Char(':');
        if (!entry.isEmpty() && entry[0] != QLatin1Char('#') && entry[0] != QChar(0xFEFF) && !driveAfterSlash &&
            NormalizeEntry(entry) == entry &&
            // Longer lines are left out by the reader (and name no file: a
            // path has at most 4095 bytes); a line break makes a name a URL,
            // longer than the name.
            EncodePlaylistText({entry}).size() <= kMaxPlaylistLineBytes + 1) {
            kept.append(entry);
        }
    }
    const QString written = PlaylistFolder() + QStringLiteral("/written.m3u");
    if (!WritePlaylistFile(written, kept)) return;
    if (ReadPlaylistFile(written, false) != kept) __builtin_trap();
}

}  // namespace wl::fuzz
