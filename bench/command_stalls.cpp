// How long the main window's commands hold the main thread. A probe timer
// asks to run every millisecond; the longest gap between two of its runs
// while a command is handled and for 1.5 s after is the longest stall, i.e.
// the longest time the window could not repaint or take input. Also given:
// how long the command's handler took to return (a handler that waits with
// events running returns late without a stall, but re-enters the window).
//
// Usage: wl_command_stalls ROUNDS FILE.mp3... (at least three files; run by
// bench/command_stalls.sh on Xvfb with a private PulseAudio server)
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/form1.h"
#include "controls/al_progress_bar.h"

namespace {

struct TFigures {
    double handlerMs = 0;
    double stallMs = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s ROUNDS FILE.mp3 FILE.mp3 FILE.mp3...\n", argv[0]);
        return 2;
    }
    const int rounds = std::max(1, std::atoi(argv[1]));
    wl::TForm1 form1;
    form1.show();
    for (int i = 2; i < argc; ++i) form1.AddEntry(QString::fromLocal8Bit(argv[i]));

    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 longest = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    probe.start();
    struct TStep {
        std::string name;
        std::function<void()> command;
    };
    const std::vector<TStep> round = {
        {"double-click",
         [&] {
             form1.SelectListRow(1);
             form1.sg1DblClick();
         }},
        {"Next", [&] { form1.PlayNext(); }},
        {"Previous", [&] { form1.PlayPrevious(); }},
        {"Seek", [&] { form1.SeekBarRelease(Qt::LeftButton, form1.ALProgressBar1->width() / 2); }},
        {"Pause", [&] { form1.Image9Click(); }},
        {"Resume", [&] { form1.Image9Click(); }},
        {"Stop", [&] { form1.Image10Click(); }},
        {"Play", [&] { form1.Image7Click(); }},
    };

    // Each step, 1.5 s after the one before (what that set going has
    // settled), then 1.5 s of watching; all in the program's one event loop.
    std::vector<std::string> order;
    std::map<std::string, TFigures> worst;
    size_t step = 0;
    double handler = 0;
    std::function<void()> next;
    const auto record = [&] {
        const TStep& s = round[step % round.size()];
        TFigures& w = worst[s.name];
        if (w.handlerMs == 0 && w.stallMs == 0) order.push_back(s.name);
        w.handlerMs = std::max(w.handlerMs, handler);
        w.stallMs = std::max(w.stallMs, longest / 1e6);
        std::fprintf(stderr, "%-13s handler %7.1f ms, longest stall %6.1f ms\n", s.name.c_str(), handler, longest / 1e6);
        ++step;
        if (step < round.size() * static_cast<size_t>(rounds)) {
            next();
        } else {
            form1.Image10Click();
            QTimer::singleShot(300, &app, &QCoreApplication::quit);
        }
    };
    next = [&] {
        QTimer::singleShot(1500, &app, [&] {
            last = clock.nsecsElapsed();
            longest = 0;
            const qint64 start = clock.nsecsElapsed();
            round[step % round.size()].command();
            handler = (clock.nsecsElapsed() - start) / 1e6;
            longest = std::max(longest, clock.nsecsElapsed() - last);
            QTimer::singleShot(1500, &app, record);
        });
    };
    next();
    app.exec();

    std::printf("%-13s %12s %14s\n", "command", "handler ms", "longest stall");
    for (const std::string& name : order) {
        std::printf("%-13s %12.1f %14.1f\n", name.c_str(), worst[name].handlerMs, worst[name].stallMs);
    }
    return 0;
}
