#include "playback/cue_sheet.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <exception>
#include <optional>

#include "decoder/cpu_features.h"
#include "decoder/decoder.h"
#include "engine/frame_scanner.h"
#include "engine/icy.h"
#include "engine/stream_open.h"
#include "info/mp3_info.h"
#include "info/text_encoding.h"
#include "io/file_stream.h"
#include "io/stream_reader.h"
#include "playback/m3u.h"
#include "playback/playlist_names.h"
#include "playback/station_list.h"

namespace wl {

namespace {

constexpr int64_t kFramesPerSecond = 75;
// Problems told one by one; more are counted.
constexpr int kToldProblems = 4;

// The words of a line: blanks separate them, double quotes enclose one
// (blanks included; an unclosed quote runs to the end).
QStringList Words(QStringView line, bool* firstArgQuoted = nullptr) {
    QStringList words;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n) {
        while (i < n && (line[i] == QLatin1Char(' ') || line[i] == QLatin1Char('\t'))) ++i;
        if (i >= n) break;
        if (line[i] == QLatin1Char('"')) {
            const qsizetype close = line.indexOf(QLatin1Char('"'), i + 1);
            const qsizetype end = close < 0 ? n : close;
            if (words.size() == 1 && firstArgQuoted) *firstArgQuoted = true;
            words.append(line.sliced(i + 1, end - i - 1).toString());
            i = close < 0 ? n : close + 1;
        } else {
            const qsizetype start = i;
            while (i < n && line[i] != QLatin1Char(' ') && line[i] != QLatin1Char('\t')) ++i;
            words.append(line.sliced(start, i - start).toString());
        }
    }
    return words;
}

// "mm:ss:ff" in frames (minutes may exceed 99); nullopt when malformed.
std::optional<int64_t> CueTime(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 3) return std::nullopt;
    int64_t values[3];
    for (int k = 0; k < 3; ++k) {
        const QString& p = parts[k];
        if (p.isEmpty() || p.size() > (k == 0 ? 6 : 2)) return std::nullopt;
        int64_t v = 0;
        for (QChar c : p) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
            v = v * 10 + (c.unicode() - '0');
        }
        values[k] = v;
    }
    if (values[1] >= 60 || values[2] >= kFramesPerSecond) return std::nullopt;
    return (values[0] * 60 + values[1]) * kFramesPerSecond + values[2];
}

// "-7.89 dB", "-7.89", "0.988" -> the number.
std::optional<double> GainValue(const QStringList& words, int at) {
    if (words.size() <= at) return std::nullopt;
    QString text = words[at].trimmed();
    if (text.endsWith(QLatin1String("dB"), Qt::CaseInsensitive)) text.chop(2);
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || v != v || v < -100.0 || v > 100.0) return std::nullopt;
    return v;
}

bool Is(const QString& word, const char* name) { return word.compare(QLatin1String(name), Qt::CaseInsensitive) == 0; }

// The path a FILE line's name stands for beside the sheet (see the header).
QString ResolveCueFile(const QString& folder, const QString& name) {
    // A name holding control characters names no file a playlist could keep.
    if (HasControlChar(name)) return {};
    QString path = NormalizeEntry(name.trimmed());
    if (path.isEmpty()) return {};
    if (QDir::isRelativePath(path) && !folder.isEmpty()) path = QDir::cleanPath(QDir(folder).filePath(path));
    const QString found = ResolveEntryPath(path);
    if (QFileInfo::exists(found) || IsMp3Path(path)) return found;
    const QString ext = FileExtension(path);
    const QString mp3 = ResolveEntryPath(path.first(path.size() - ext.size()) + QStringLiteral(".mp3"));
    return QFileInfo::exists(mp3) ? mp3 : found;
}

struct TRawFile {
    QString Name;  // as the sheet gives it
    QString Path;
    TCueAudioFacts Facts;
};

struct TRawTrack {
    int Number = 0;
    int File = -1;
    bool Audio = true;
    int64_t Start = -1;  // INDEX 01 in frames; -1: none
    bool BadTime = false;
    QString Title;
    QString Performer;
    std::optional<double> Gain, Peak;
};

QString TrackList(const std::vector<int>& numbers) {
    QStringList texts;
    for (int n : numbers) texts.append(QString::number(n));
    return (numbers.size() == 1 ? QStringLiteral("track ") : QStringLiteral("tracks ")) + texts.join(QStringLiteral(", "));
}

}  // namespace

TCueAudioFacts ProbeAudioFile(const QString& path) {
    TCueAudioFacts facts;
    const QFileInfo info(path);
    if (!info.exists()) {
        facts.Error = QStringLiteral("no such file");
        return facts;
    }
    if (!info.isFile()) {
        facts.Error = QStringLiteral("not a file");
        return facts;
    }
    if (!IsMp3Path(path)) {
        facts.Error = QStringLiteral("not an MP3 file");
        return facts;
    }
    try {
        TFileStream stream(QFile::encodeName(path).toStdString());
        TMPStreamReader reader(65536);
        reader.Open(&stream, true);
        TMP3Info mp3;
        mp3.Attach(&reader);
        auto decoder = NewDecoder();
        SelectRoutines(*decoder, GetCpuFeatures());
        TStreamFacts f;
        AnalyzeStream(reader, mp3, *decoder, f);
        facts.SampleRate = f.sampleRate;
        const int64_t sampleBytes = int64_t{f.channels} * (f.bitsPerSample / 8);
        if (f.musicSamples > 0) {
            facts.Samples = f.musicSamples;
        } else if (f.totalPcmBytes > 0 && sampleBytes > 0) {
            facts.Samples = f.totalPcmBytes / sampleBytes;
        } else if (f.bitrate > 0 && f.audioLength > 0 && f.audioLength != kUnknownAudioLength) {
            facts.Samples = f.audioLength * 8 * f.sampleRate / f.bitrate;
        }
        reader.Close();
        if (facts.SampleRate <= 0) facts.Error = QStringLiteral("no sample rate");
    } catch (const std::exception& error) {
        facts.Error = QString::fromUtf8(error.what()).trimmed();
        if (facts.Error.isEmpty()) facts.Error = QStringLiteral("cannot be read");
    }
    return facts;
}

bool IsCueSheetPath(const QString& path) {
    return !IsStreamUrl(path) && FileExtension(path).compare(QLatin1String(".cue"), Qt::CaseInsensitive) == 0;
}

bool IsListFilePath(const QString& path) { return IsStationListPath(path) || IsCueSheetPath(path); }

QStringList DecodeCueText(const QByteArray& bytes, const QString& codePage) {
    QByteArrayView body(bytes);
    const bool bom = body.startsWith("\xEF\xBB\xBF");
    if (bom) body = body.sliced(3);
    const bool utf8 = bom || IsValidUtf8(std::string_view(body.data(), static_cast<size_t>(body.size())));
    const std::string page = codePage.isEmpty() ? std::string(kDefaultStationCodePage) : codePage.toStdString();
    QStringList lines;
    qsizetype start = 0;
    const auto take = [&](qsizetype end) {
        const QByteArrayView line = body.sliced(start, end - start);
        lines.append(utf8 ? QString::fromUtf8(line)
                          : QString::fromStdString(
                                DecodeStationText(std::string_view(line.data(), static_cast<size_t>(line.size())), page)));
    };
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body[i] != '\n' && body[i] != '\r') continue;
        take(i);
        if (body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < body.size()) take(body.size());
    return lines;
}

TCueSheet ParseCueSheet(const QByteArray& body, const QString& folder, const QString& codePage, const TCueProbe& probe) {
    TCueSheet sheet;
    if (body.size() > kMaxCueSheetBytes) {
        sheet.Error = QStringLiteral("the sheet is larger than 1 MB");
        return sheet;
    }
    QString albumTitle, albumArtist;
    std::optional<double> albumGain, albumPeak;
    std::vector<TRawFile> files;
    std::vector<TRawTrack> tracks;
    QStringList problems;
    int tooMany = 0;
    for (const QString& text : DecodeCueText(body, codePage)) {
        bool quoted = false;
        const QStringList words = Words(QStringView(text).trimmed(), &quoted);
        if (words.isEmpty()) continue;
        const QString& command = words[0];
        TRawTrack* track = tracks.empty() ? nullptr : &tracks.back();
        if (Is(command, "FILE")) {
            if (words.size() < 2) continue;
            TRawFile file;
            // An unquoted name with blanks: everything before the type.
            file.Name = quoted || words.size() <= 3 ? words[1] : words.mid(1, words.size() - 2).join(QLatin1Char(' '));
            files.push_back(std::move(file));
        } else if (Is(command, "TRACK")) {
            if (static_cast<int>(tracks.size()) >= kMaxCueTracks) {
                ++tooMany;
                continue;
            }
            TRawTrack t;
            t.Number = words.size() > 1 ? words[1].toInt() : 0;
            if (t.Number <= 0) t.Number = static_cast<int>(tracks.size()) + 1;
            t.Audio = words.size() < 3 || Is(words[2], "AUDIO");
            t.File = static_cast<int>(files.size()) - 1;
            tracks.push_back(std::move(t));
        } else if (Is(command, "INDEX")) {
            if (!track || words.size() < 3 || words[1].toInt() != 1) continue;
            const std::optional<int64_t> at = CueTime(words[2]);
            if (at) {
                track->Start = *at;
                track->BadTime = false;
            } else if (track->Start < 0) {
                track->BadTime = true;
            }
        } else if (Is(command, "TITLE") || Is(command, "PERFORMER")) {
            const QString value = words.size() > 1 ? CleanTitle(words.mid(1).join(QLatin1Char(' '))) : QString();
            const bool title = Is(command, "TITLE");
            if (track) {
                (title ? track->Title : track->Performer) = value;
            } else {
                (title ? albumTitle : albumArtist) = value;
            }
        } else if (Is(command, "REM") && words.size() > 2) {
            const QString& key = words[1];
            if (Is(key, "REPLAYGAIN_ALBUM_GAIN")) {
                albumGain = GainValue(words, 2);
            } else if (Is(key, "REPLAYGAIN_ALBUM_PEAK")) {
                albumPeak = GainValue(words, 2);
            } else if (Is(key, "REPLAYGAIN_TRACK_GAIN") && track) {
                track->Gain = GainValue(words, 2);
            } else if (Is(key, "REPLAYGAIN_TRACK_PEAK") && track) {
                track->Peak = GainValue(words, 2);
            }
        }
        // CATALOG, FLAGS, ISRC, PREGAP, POSTGAP, SONGWRITER and the rest
        // change nothing that plays.
    }
    if (tracks.empty()) {
        sheet.Error = QStringLiteral("the sheet holds no TRACK");
        return sheet;
    }
    if (tooMany > 0) problems.append(QStringLiteral("%1 tracks beyond the %2th left out").arg(tooMany).arg(kMaxCueTracks));

    for (TRawFile& file : files) {
        file.Path = ResolveCueFile(folder, file.Name);
        file.Facts = file.Path.isEmpty() ? TCueAudioFacts{QStringLiteral("no file named"), 0, -1} : probe(file.Path);
        if (file.Facts.Error.isEmpty() && file.Facts.SampleRate <= 0) file.Facts.Error = QStringLiteral("no sample rate");
    }

    // Tracks that cannot be used, by reason.
    std::vector<int> noFile, notAudio, noIndex, outOfOrder, beyond;
    std::vector<std::vector<int>> fileFailed(files.size());
    // The usable tracks of each file in order, with their starts in samples.
    struct TKept {
        size_t track;
        int64_t first;
    };
    std::vector<std::vector<TKept>> kept(files.size());
    for (size_t i = 0; i < tracks.size(); ++i) {
        const TRawTrack& t = tracks[i];
        if (t.File < 0) {
            noFile.push_back(t.Number);
            continue;
        }
        const TRawFile& file = files[static_cast<size_t>(t.File)];
        if (!t.Audio) {
            notAudio.push_back(t.Number);
            continue;
        }
        if (!file.Facts.Error.isEmpty()) {
            fileFailed[static_cast<size_t>(t.File)].push_back(t.Number);
            continue;
        }
        if (t.Start < 0) {
            noIndex.push_back(t.Number);
            continue;
        }
        // Exact where the rate is a multiple of 75 (44100, 48000, 22050…).
        const int64_t first = t.Start * file.Facts.SampleRate / kFramesPerSecond;
        std::vector<TKept>& list = kept[static_cast<size_t>(t.File)];
        if (!list.empty() && first <= list.back().first) {
            outOfOrder.push_back(t.Number);
            continue;
        }
        if (file.Facts.Samples >= 0 && first >= file.Facts.Samples) {
            beyond.push_back(t.Number);
            continue;
        }
        list.push_back({i, first});
    }
    if (!noFile.empty()) problems.append(TrackList(noFile) + QStringLiteral(": no FILE before"));
    for (size_t f = 0; f < files.size(); ++f) {
        if (!fileFailed[f].empty())
            problems.append(QStringLiteral("%1: %2: %3").arg(TrackList(fileFailed[f]), files[f].Name, files[f].Facts.Error));
    }
    if (!notAudio.empty()) problems.append(TrackList(notAudio) + QStringLiteral(": not audio"));
    if (!noIndex.empty()) problems.append(TrackList(noIndex) + QStringLiteral(": no valid INDEX 01"));
    if (!outOfOrder.empty()) problems.append(TrackList(outOfOrder) + QStringLiteral(": INDEX 01 not after the track before"));
    if (!beyond.empty()) problems.append(TrackList(beyond) + QStringLiteral(": INDEX 01 beyond the end of the file"));

    // Entries in the sheet's order.
    std::vector<std::pair<size_t, TPlaylistEntry>> made;
    for (size_t f = 0; f < files.size(); ++f) {
        const TRawFile& file = files[f];
        const std::vector<TKept>& list = kept[f];
        for (size_t k = 0; k < list.size(); ++k) {
            const TRawTrack& t = tracks[list[k].track];
            TPlaylistEntry entry;
            entry.Path = file.Path;
            entry.Range.First = list[k].first;
            entry.Range.Count = k + 1 < list.size() ? list[k + 1].first - list[k].first : -1;
            const int64_t count = entry.Range.Count >= 0 ? entry.Range.Count
                                  : file.Facts.Samples >= 0 ? file.Facts.Samples - entry.Range.First
                                                            : 0;
            entry.Meta.LengthMs = count * 1000 / file.Facts.SampleRate;
            entry.Meta.Title = t.Title;
            entry.Meta.Artist = t.Performer.isEmpty() ? albumArtist : t.Performer;
            entry.Meta.Album = albumTitle;
            entry.Meta.AlbumArtist = albumArtist;
            entry.Meta.Track = t.Number;
            entry.Meta.TrackGainDb = t.Gain;
            entry.Meta.TrackPeak = t.Peak;
            entry.Meta.AlbumGainDb = albumGain;
            entry.Meta.AlbumPeak = albumPeak;
            made.emplace_back(list[k].track, std::move(entry));
        }
    }
    std::sort(made.begin(), made.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [index, entry] : made) sheet.Entries.push_back(std::move(entry));

    if (problems.size() > kToldProblems) {
        const qsizetype more = problems.size() - kToldProblems;
        problems.resize(kToldProblems);
        problems.append(QStringLiteral("%1 more problem%2").arg(more).arg(more == 1 ? "" : "s"));
    }
    const QString told = problems.join(QStringLiteral("; "));
    if (sheet.Entries.empty()) {
        sheet.Error = told.isEmpty() ? QStringLiteral("no track could be used") : QStringLiteral("no track could be used: ") + told;
    } else {
        sheet.Warning = told;
    }
    return sheet;
}

TCueSheet ReadCueSheetFile(const QString& path, const QString& codePage, const TCueProbe& probe) {
    TCueSheet sheet;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        sheet.Error = file.exists() ? QStringLiteral("cannot be read: ") + file.errorString() : QStringLiteral("no such file");
        return sheet;
    }
    if (file.size() > kMaxCueSheetBytes) {
        sheet.Error = QStringLiteral("the sheet is larger than 1 MB");
        return sheet;
    }
    return ParseCueSheet(file.read(kMaxCueSheetBytes + 1), QFileInfo(path).absolutePath(), codePage, probe);
}

QString CueSheetFor(const QString& audioPath) {
    const QFileInfo audio(audioPath);
    const QDir folder = audio.absoluteDir();
    const QStringList found =
        folder.entryList({audio.completeBaseName() + QStringLiteral(".cue")}, QDir::Files | QDir::Readable, QDir::Name);
    const QString target = audio.canonicalFilePath();
    for (const QString& name : found) {
        QFile file(folder.filePath(name));
        if (file.size() > kMaxCueSheetBytes || !file.open(QIODevice::ReadOnly)) continue;
        for (const QString& line : DecodeCueText(file.readAll(), QString())) {
            bool quoted = false;
            const QStringList words = Words(QStringView(line).trimmed(), &quoted);
            if (words.size() < 2 || !Is(words[0], "FILE")) continue;
            const QString nameGiven =
                quoted || words.size() <= 3 ? words[1] : words.mid(1, words.size() - 2).join(QLatin1Char(' '));
            const QString path = ResolveCueFile(folder.absolutePath(), nameGiven);
            if (!path.isEmpty() && QFileInfo(path).canonicalFilePath() == target) return file.fileName();
        }
    }
    return {};
}

}  // namespace wl
