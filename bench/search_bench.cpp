// Finding, sorting and tidying a 100,000-entry playlist (no window): queries
// typed letter by letter (the time of each keystroke, p50/p95), building the
// search index, the sorts, removing duplicates, and looking for missing files.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <random>
#include <vector>

#include "playback/playlist_model.h"
#include "playback/playlist_search.h"

namespace {

constexpr int kEntries = 100'000;

// A collection's look: artists with a few albums each, titles of a few common
// words, some names accented, tags read for every file and shown as names.
const QStringList kFirst{"Jimi", "Aretha", "Miles", "Nina", "Johnny", "Björk", "Beyoncé", "Sigur", "Ella", "David",
                         "Joni", "Léa", "Frédéric", "Antonín", "Zoë", "Bob", "Patti", "Kurt", "Amy", "Prince",
                         "Marvin", "Stevie", "Françoise", "Søren", "Dolly", "Élodie", "Tom", "Lou", "Ray", "Etta"};
const QStringList kLast{"Hendrix", "Franklin", "Davis", "Simone", "Cash", "Guðmundsdóttir", "Knowles", "Rós",
                        "Fitzgerald", "Bowie", "Mitchell", "Seydoux", "Chopin", "Dvořák", "Smith", "Dylan", "Cobain",
                        "Winehouse", "Gaye", "Wonder", "Hardy", "Kierkegaard", "Parton", "Waits", "Reed", "Charles",
                        "James", "Young", "Brown", "Müller"};
const QStringList kWords{"Love", "Night", "Train", "Blue", "Song", "Dance", "Moon", "Rain", "Heart", "Fire", "River",
                         "Road", "Home", "Dream", "Light", "Summer", "Girl", "Time", "World", "Sky", "Mystery",
                         "Little", "Wild", "Sweet", "Cold", "Golden", "Street", "Morning", "Ocean", "Star", "Été",
                         "Über", "Señorita", "Mañana", "Café", "Straße", "Nocturne", "Symphony", "Live", "Remix"};

struct Collection {
    wl::PlaylistModel list;
    Collection() {
        std::mt19937 rng(12345);
        auto pick = [&](const QStringList& words) { return words[static_cast<qsizetype>(rng() % words.size())]; };
        std::vector<wl::TPlaylistEntry> entries;
        std::vector<wl::TEntryTags> tags;
        entries.reserve(kEntries);
        QString artist, album;
        int track = 0, albumLength = 0;
        for (int i = 0; i < kEntries; ++i) {
            if (track >= albumLength) {
                if (rng() % 4 == 0 || artist.isEmpty()) artist = pick(kFirst) + ' ' + pick(kLast);
                album = rng() % 3 == 0 ? pick(kWords) : QStringLiteral("%1 of %2").arg(pick(kWords), pick(kWords));
                albumLength = 8 + static_cast<int>(rng() % 8);
                track = 0;
            }
            ++track;
            QString title = pick(kWords);
            for (int w = static_cast<int>(rng() % 4); w > 0; --w) title += ' ' + pick(kWords).toLower();
            wl::TPlaylistEntry entry;
            entry.Path = QStringLiteral("/home/user/Music/%1/%2/%3 - %4.mp3")
                             .arg(artist, album)
                             .arg(track, 2, 10, QLatin1Char('0'))
                             .arg(title);
            entries.push_back(std::move(entry));
            tags.push_back({title, artist, album, track, true});
        }
        list.AddEntries(entries);
        for (int r = 0; r < kEntries; ++r) {
            const wl::TEntryTags& tag = tags[static_cast<size_t>(r)];
            list.SetTags(r, tag);
            list.SetName(r, tag.Artist + QStringLiteral(" - ") + tag.Title);
        }
    }
};

Collection& Shared() {
    static Collection collection;
    return collection;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
    return values[at];
}

// Each query typed a letter at a time (a typo taken back in one), each
// keystroke a search; the counters are per keystroke, in milliseconds.
void TypeQueries(benchmark::State& state) {
    wl::TPlaylistSearch search(Shared().list);
    const QStringList queries{"hendrix train", "beyonce", "sigur ros nocturne", "the night", "love song",
                              "zzzz", "dvorak symphony", "cafe", "mitchell blue", "etta jamse"};
    std::vector<double> ms;
    size_t hits = 0;
    QElapsedTimer timer;
    for (auto _ : state) {
        for (const QString& query : queries) {
            for (qsizetype n = 1; n <= query.size(); ++n) {
                timer.start();
                const std::vector<int> rows = search.Find(query.first(n));
                ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
                hits += rows.size();
                benchmark::DoNotOptimize(rows.data());
            }
            if (query.endsWith(QLatin1String("jamse"))) {  // the typo corrected
                for (const char* step : {"etta jams", "etta jam", "etta jame", "etta james"}) {
                    timer.start();
                    const std::vector<int> rows = search.Find(QString::fromLatin1(step));
                    ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
                    hits += rows.size();
                }
            }
            search.Find(QString());  // the field cleared
        }
    }
    state.counters["keystrokes"] = static_cast<double>(ms.size());
    state.counters["p50_ms"] = Percentile(ms, 0.50);
    state.counters["p95_ms"] = Percentile(ms, 0.95);
    state.counters["max_ms"] = Percentile(ms, 1.0);
    state.counters["hits/keystroke"] = static_cast<double>(hits) / static_cast<double>(ms.size());
}
BENCHMARK(TypeQueries)->Unit(benchmark::kMillisecond);

void BuildIndex(benchmark::State& state) {
    for (auto _ : state) {
        wl::TPlaylistSearch search(Shared().list);
        benchmark::DoNotOptimize(search.Rows());
    }
    state.counters["entries"] = kEntries;
}
BENCHMARK(BuildIndex)->Unit(benchmark::kMillisecond);

// A sort of a shuffled list: Path sorts it back for the next round.
void Sort(benchmark::State& state) {
    using K = wl::PlaylistModel::TSortKey;
    const K key = static_cast<K>(state.range(0));
    wl::PlaylistModel& list = Shared().list;
    wl::TPlaylistSearch search(list);  // the index follows every sort
    for (auto _ : state) {
        state.PauseTiming();
        list.Sort(key == K::Path ? K::Title : K::Path);
        state.ResumeTiming();
        list.Sort(key);
    }
    list.Sort(K::Path);
    state.SetLabel(std::vector<const char*>{"title", "artist", "album", "track", "file name", "path"}[state.range(0)]);
}
BENCHMARK(Sort)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

// A list holding every entry twice.
void RemoveDuplicates(benchmark::State& state) {
    const std::vector<wl::TPlaylistEntry> entries = Shared().list.Entries();
    for (auto _ : state) {
        state.PauseTiming();
        wl::PlaylistModel list;
        list.AddEntries(entries);
        list.AddEntries(entries);
        list.CurrentEntry = kEntries + 1;
        state.ResumeTiming();
        benchmark::DoNotOptimize(list.RemoveDuplicates());
    }
}
BENCHMARK(RemoveDuplicates)->Unit(benchmark::kMillisecond);

// Every file missing (a collection whose disk is gone): each folder looked
// for once.
void MissingRows(benchmark::State& state) {
    const QStringList paths = Shared().list.Paths();
    size_t missing = 0;
    for (auto _ : state) missing = wl::PlaylistModel::MissingRows(paths).size();
    state.counters["missing"] = static_cast<double>(missing);
}
BENCHMARK(MissingRows)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Shared();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
