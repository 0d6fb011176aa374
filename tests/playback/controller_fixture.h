// A playback controller on its own (no window), files of silent frames to
// play, and what its signals said.
#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QThread>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "playback/playback_controller.h"
#include "tests/stream_builder.h"
#include "tests/test_support.h"
#include "tests/wait_until.h"

namespace wl::test {

class ControllerFixture : public ::testing::Test {
protected:
    // `speed`: how many times faster than real time the null device plays.
    void Start(int speed = 1) {
        setenv("WAVELANTERN_NULL_SPEED", std::to_string(speed).c_str(), 1);
        c = std::make_unique<TPlaybackController>("null");
        QObject::connect(c.get(), &TPlaybackController::EntryStarted, [this](int entry, bool) { started.push_back(entry); });
        QObject::connect(c.get(), &TPlaybackController::Error, [this](const QString& text) { errors.append(text); });
        QObject::connect(c.get(), &TPlaybackController::StateChanged, [this](TPlayState state, TStopCause cause) {
            if (state == TPlayState::Stopped) stops.push_back(cause);
        });
    }
    void TearDown() override {
        c.reset();
        unsetenv("WAVELANTERN_NULL_SPEED");
    }

    // Silent MPEG-1 Layer III frames (44.1 kHz; stereo, or mono for mode 3),
    // `seconds` long.
    QString Mp3(const QString& name, double seconds, int mode = 0) {
        const QString path = QString::fromStdString(dir_.path()) + "/" + name;
        std::vector<uint8_t> bytes;
        const std::vector<uint8_t> frame = SilentFrameMpeg1(mode, 0, 0);
        for (int i = 0; i < static_cast<int>(seconds * 44100 / 1152) + 1; ++i) bytes.insert(bytes.end(), frame.begin(), frame.end());
        EXPECT_TRUE(WriteFileBytes(path.toStdString(), bytes)) << path.toStdString();
        return path;
    }
    QString Missing(const QString& name) const { return QString::fromStdString(dir_.path()) + "/" + name; }
    void Add(const QStringList& paths) {
        for (const QString& p : paths) ASSERT_TRUE(c->Playlist().AddEntry(p)) << p.toStdString();
    }

    bool RunUntil(const std::function<bool()>& cond, int ms = 10000) {
        return WaitUntil(cond, std::chrono::milliseconds(ms), [] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(1);
        });
    }
    void RunFor(int ms) { RunUntil([] { return false; }, ms); }
    // No hold running and nothing opening.
    bool Settle(int ms = 10000) {
        return RunUntil([this] { return !c->Holding() && !c->Opening(); }, ms);
    }
    TPlayState PlayerStatus() {
        TMP3PlayerStatus status = mpsStopped;
        c->Inspect([&](TMP3Player& p) { status = p.Status(); });
        return status == mpsPlaying ? TPlayState::Playing : status == mpsPaused ? TPlayState::Paused : TPlayState::Stopped;
    }

    TempDir dir_;
    std::unique_ptr<TPlaybackController> c;
    std::vector<int> started;  // EntryStarted, in order
    QStringList errors;
    std::vector<TStopCause> stops;
};

}  // namespace wl::test
