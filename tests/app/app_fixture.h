// A fresh app folder (WAVELANTERN_HOME) per test, and the two windows built
// the way the program builds them.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <utility>

#include "app/form1.h"
#include "app/form2.h"
#include "playback/list_loader.h"
#include "tests/app/run_events.h"

namespace wl::test {

// Writes a file whole (its folder made when missing); false on failure.
inline bool WriteText(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A file's bytes; empty when it cannot be read.
inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        setenv("WAVELANTERN_HOME", home_.path().toUtf8().constData(), 1);
        startDir_ = QDir::currentPath();
    }
    void TearDown() override {
        form2.reset();
        form1.reset();
        QDir::setCurrent(startDir_);
        unsetenv("WAVELANTERN_HOME");
    }
    // Creates Form1 and Form2 (in that order) without showing them.
    void Create(const QStringList& arguments = {}) {
        form1 = std::make_unique<TForm1>();
        form1->Arguments = arguments;
        form2 = std::make_unique<TForm2>();
    }
    QString Home() const { return home_.path() + "/"; }

    TPlaybackController& Ctl() const { return *form1->Controller; }
    // Runs events until no list is being read, no hold runs and no entry opens.
    bool Settle(int ms = 10000) const {
        return RunEventsUntil(
            [this] { return !Ctl().Playlist().Loader().Busy() && !Ctl().Holding() && !Ctl().Opening(); }, ms);
    }
    // Runs events until no list is being read (list_loader.h).
    bool Loaded(int ms = 10000) const {
        return RunEventsUntil([this] { return !Ctl().Playlist().Loader().Busy(); }, ms);
    }
    // What the player itself is doing (asked on its thread).
    TMP3PlayerStatus PlayerStatus() const {
        TMP3PlayerStatus status = mpsStopped;
        Ctl().Inspect([&](TMP3Player& p) { status = p.Status(); });
        return status;
    }
    // `path` as the list's only entry, started and open.
    void PlayAlone(const QString& path) {
        Ctl().SetHoldMs(0);
        form1->ClearPlaylist();
        form1->AddEntry(path);
        Ctl().PlayEntry(1);
        ASSERT_TRUE(Settle());
        ASSERT_TRUE(Ctl().IsOpen()) << form1->StatusText.toStdString();
    }
    // What `look` reads off the player (on its thread).
    template <class F>
    auto OnPlayer(F look) const {
        decltype(look(std::declval<TMP3Player&>())) value{};
        Ctl().Inspect([&](TMP3Player& p) { value = look(p); });
        return value;
    }
    int64_t PlayerPosition() const { return OnPlayer([](TMP3Player& p) { return p.Position(); }); }
    // The file the player has open; empty when none.
    QString PlayerFile() const {
        QString file;
        Ctl().Inspect([&](TMP3Player& p) { file = QString::fromStdString(p.FileName()); });
        return file;
    }

    QTemporaryDir home_;
    QString startDir_;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
};

}  // namespace wl::test
