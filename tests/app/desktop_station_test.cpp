// A station in the window and on the bus: its title, as heard, in the title
// strip (the screensaver's text), the tag panel (artist and title split, the
// station's name as album) and the MPRIS metadata; no length to seek in.
#include <QLineEdit>

#include "controls/al_progress_bar.h"
#include "tests/app/desktop_mpris_fixture.h"
#include "tests/engine/fault_http_server.h"
#include "tests/stream_builder.h"

namespace wl::test {
namespace {

using DesktopStation = DesktopMprisFixture;

TEST_F(DesktopStation, ShowsTheTitleHeardEverywhereAndCannotSeek) {
    FaultHttpServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    std::vector<uint8_t> audio;
    const std::vector<uint8_t> frame = SilentFrameMpeg1(0, 0, 0);
    for (int i = 0; i < 200; ++i) audio.insert(audio.end(), frame.begin(), frame.end());
    FaultReply live = FaultReply::Audio(audio);
    live.headers = {"icy-name: Test FM"};
    live.repeat = true;
    live.metaInterval = 8000;
    live.metadata = {"StreamTitle='';", "StreamTitle='The Band - Night Song';"};
    live.bytesPerSecond = static_cast<int32_t>(frame.size() * 44100 / 1152);
    server.Script("/live", {live});

    PlayAlone(QString::fromStdString(server.Url("/live")));
    EXPECT_TRUE(Ctl().Facts().Live);
    EXPECT_FALSE(form1->ALProgressBar1->isEnabled());
    EXPECT_FALSE(client_->Get(kMprisPlayer, "CanSeek").toBool());
    ASSERT_TRUE(RunEventsUntil([&] { return form1->TitleText == QStringLiteral("The Band - Night Song"); }, 15000))
        << form1->TitleText.toStdString();
    EXPECT_EQ(form1->Edit1->text(), QStringLiteral("The Band"));
    EXPECT_EQ(form1->Edit2->text(), QStringLiteral("Night Song"));
    EXPECT_EQ(form1->Edit4->text(), QStringLiteral("Test FM"));
    ASSERT_TRUE(RunEventsUntil([&] { return client_->Metadata().value("xesam:title").toString() == "Night Song"; }));
    const QVariantMap m = client_->Metadata();
    EXPECT_EQ(m.value("xesam:artist").toStringList(), QStringList{"The Band"});
    EXPECT_EQ(m.value("xesam:album").toString(), "Test FM");
    EXPECT_EQ(m.value("xesam:url").toString(), QString::fromStdString(server.Url("/live")));
    EXPECT_FALSE(m.contains("mpris:length"));
    EXPECT_EQ(form1->StatusText, QStringLiteral("Playing"));
}

}  // namespace
}  // namespace wl::test
