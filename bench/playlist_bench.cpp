// The playlist at 5,000 entries: loading the default playlist, renumbering,
// scrolling, removing a row and saving, on the offscreen platform with the
// window shown (so the grid's drawing counts).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

#include "app/form1.h"
#include "app/playlist_view.h"

namespace {

constexpr int kEntries = 5000;

struct Setup {
    QTemporaryDir home;
    std::unique_ptr<wl::TForm1> form;

    Setup() {
        setenv("WAVELANTERN_HOME", home.path().toUtf8().constData(), 1);
        QFile file(home.path() + "/wl21.m3u");
        if (file.open(QIODevice::WriteOnly)) {
            for (int i = 0; i < kEntries; ++i)
                file.write(QStringLiteral("/music/Artist %1/Album %2/%3 - A song title.mp3\n")
                               .arg(i / 100)
                               .arg(i / 10)
                               .arg(i)
                               .toUtf8());
        }
        form = std::make_unique<wl::TForm1>();
        form->Panel19->show();
        form->show();
        QCoreApplication::processEvents();
    }
};

Setup& Shared() {
    static Setup setup;
    return setup;
}

void LoadDefaultPlaylist(benchmark::State& state) {
    wl::TForm1& f = *Shared().form;
    for (auto _ : state) {
        f.LoadDefaultPlaylist();
        QCoreApplication::processEvents();  // the grid draws
    }
    state.counters["entries"] = f.EntryCount;
    state.counters["entries/s"] = benchmark::Counter(static_cast<double>(f.EntryCount) * state.iterations(),
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK(LoadDefaultPlaylist)->Unit(benchmark::kMillisecond);

void RenumberEntries(benchmark::State& state) {
    wl::TForm1& f = *Shared().form;
    if (f.EntryCount != kEntries) f.LoadDefaultPlaylist();
    for (auto _ : state) {
        f.Playlist.RenumberEntries();
        QCoreApplication::processEvents();
    }
    state.counters["entries"] = f.EntryCount;
}
BENCHMARK(RenumberEntries)->Unit(benchmark::kMillisecond);

// One pass over the whole list five rows at a time, and back to the top.
void ScrollThrough(benchmark::State& state) {
    wl::TForm1& f = *Shared().form;
    if (f.EntryCount != kEntries) f.LoadDefaultPlaylist();
    int64_t clicks = 0;
    for (auto _ : state) {
        f.ScrollButtonClick(28);
        while (f.TopRow() + f.VisibleRows() < f.sg1->model()->rowCount()) {
            f.ScrollButtonClick(32);
            QCoreApplication::processEvents();
            ++clicks;
        }
    }
    state.counters["clicks/s"] = benchmark::Counter(static_cast<double>(clicks), benchmark::Counter::kIsRate);
}
BENCHMARK(ScrollThrough)->Unit(benchmark::kMillisecond);

// "-File" on one row in the middle: move the rows below, renumber them all.
void RemoveOneRow(benchmark::State& state) {
    wl::TForm1& f = *Shared().form;
    for (auto _ : state) {
        state.PauseTiming();
        if (f.EntryCount < kEntries - 50) f.LoadDefaultPlaylist();
        f.sg1->clearSelection();
        f.SelectListRow(f.Playlist.Rows() / 2);
        state.ResumeTiming();
        f.RemoveSelectedRows();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(RemoveOneRow)->Unit(benchmark::kMillisecond);

void SaveDefaultPlaylist(benchmark::State& state) {
    wl::TForm1& f = *Shared().form;
    if (f.EntryCount != kEntries) f.LoadDefaultPlaylist();
    for (auto _ : state) f.SaveDefaultPlaylist();
}
BENCHMARK(SaveDefaultPlaylist)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("WAVELANTERN_AUDIO", "null", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Shared().form.reset();
    return 0;
}
