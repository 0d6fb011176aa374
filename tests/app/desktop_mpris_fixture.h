// The windows with the media player service on a private session bus, a
// client connection to drive it and, on request, a signal monitor.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/mpris.h"
#include "tests/app/app_fixture.h"
#include "tests/app/desktop_test_bus.h"

namespace wl::test {

class DesktopMprisFixture : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        if (HasFatalFailure()) return;
        if (!TPrivateBus::Available()) {
            GTEST_SKIP() << "dbus-daemon is missing (apt-get install dbus): no private session bus";
        }
        bus_ = std::make_unique<TPrivateBus>();
        ASSERT_TRUE(bus_->Start()) << "dbus-daemon did not start";
        static int serial = 0;
        ++serial;
        serviceBus_ = std::make_unique<TBusConnection>(bus_->Address(), QStringLiteral("wl-service-%1").arg(serial));
        client_ = std::make_unique<TBusConnection>(bus_->Address(), QStringLiteral("wl-client-%1").arg(serial));
        ASSERT_TRUE((*serviceBus_)->isConnected());
        ASSERT_TRUE((*client_)->isConnected());
        Create();
        mpris_ = TMprisService::Start(form1->Controller.get(), Window(), **serviceBus_);
        ASSERT_NE(mpris_, nullptr);
    }
    void TearDown() override {
        monitor_.reset();
        mpris_.reset();
        client_.reset();
        serviceBus_.reset();
        bus_.reset();
        AppFixture::TearDown();
    }

    // Signals from here on; skips the calling test when gdbus is missing.
    bool StartMonitor() {
        if (!TSignalMonitor::Available()) return false;
        monitor_ = std::make_unique<TSignalMonitor>();
        return monitor_->Start(bus_->Address());
    }

    QString Mp3(const QString& name, double seconds, const std::string& title = {}, const std::string& artist = {},
                const std::string& album = {}, int track = 0, int genre = 255) {
        const QString path = Home() + name;
        EXPECT_TRUE(WriteTaggedMp3(path, seconds, title, artist, album, track, genre)) << path.toStdString();
        return path;
    }

    // What the program gives the service of its window.
    TMprisWindow Window() {
        return {[this] { form1->RaiseWindow(); }, [this] { form1->SpeedButton1Click(); }};
    }

    TMP3PlayerStatus Status() const { return PlayerStatus(); }
    QString PlaybackStatus() { return client_->Get(kMprisPlayer, QStringLiteral("PlaybackStatus")).toString(); }
    int64_t PositionUs() { return client_->Get(kMprisPlayer, QStringLiteral("Position")).toLongLong(); }

    std::unique_ptr<TPrivateBus> bus_;
    std::unique_ptr<TBusConnection> serviceBus_;
    std::unique_ptr<TBusConnection> client_;
    std::unique_ptr<TSignalMonitor> monitor_;
    std::unique_ptr<TMprisService> mpris_;
};

}  // namespace wl::test
