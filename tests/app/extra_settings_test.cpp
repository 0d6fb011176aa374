// "wavelantern.conf": the typed fields read back through QSettings, defaults
// for whatever is missing or damaged, the start-up write beside an unchanged
// "wl.ini", and the two options on the options panel.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QSettings>

#include "app/extra_settings.h"
#include "tests/app/app_fixture.h"

namespace wl::test {

namespace {

void ExpectDefaults(const TExtraSettings& s) {
    EXPECT_TRUE(s.ResumePlayback);
    EXPECT_TRUE(s.TitlesFromTags);
    EXPECT_TRUE(s.SheetsInFolders);
    EXPECT_EQ(s.ReplayGainMode, TReplayGainMode::Off);
    EXPECT_EQ(s.ReplayGainPreampDb, 0.0);
    EXPECT_TRUE(s.ReplayGainPreventClipping);
    EXPECT_EQ(s.ResumeEntry, 0);
    EXPECT_EQ(s.ResumePositionMs, 0);
    EXPECT_EQ(s.ResumeVolume, -1);
    EXPECT_FALSE(s.ResumeWasPlaying);
    EXPECT_EQ(s.TitleCodePage, "WINDOWS-1252");
    EXPECT_EQ(s.PlaylistRows, 6);
    EXPECT_EQ(s.LastFolder, QString());
}

}  // namespace

using ExtraSettings = AppFixture;

TEST_F(ExtraSettings, EveryFieldRoundTripsAndReadsAsIni) {
    TExtraSettings s;
    s.ResumePlayback = false;
    s.TitlesFromTags = false;
    s.SheetsInFolders = false;
    s.ReplayGainMode = TReplayGainMode::Album;
    s.ReplayGainPreampDb = -7.25;
    s.ReplayGainPreventClipping = false;
    s.ResumeEntry = 1234;
    s.ResumePositionMs = 3'600'123;
    s.ResumeVolume = 37;
    s.ResumeWasPlaying = true;
    s.TitleCodePage = "KOI8-R";
    s.PlaylistRows = 40;
    s.LastFolder = QString::fromUtf8("/music/a;b \"c\" = \xC3\xA4%20");
    const QString path = Home() + "wavelantern.conf";
    ASSERT_TRUE(s.Save(path));

    const QSettings ini(path, QSettings::IniFormat);
    EXPECT_EQ(ini.status(), QSettings::NoError);
    EXPECT_FALSE(ini.value("Playback/ResumePlayback").toBool());
    EXPECT_EQ(ini.value("ReplayGain/Mode").toInt(), 2);
    EXPECT_DOUBLE_EQ(ini.value("ReplayGain/PreampDb").toDouble(), -7.25);
    EXPECT_EQ(ini.value("Resume/PositionMs").toLongLong(), 3'600'123);
    EXPECT_TRUE(ini.value("Resume/WasPlaying").toBool());
    EXPECT_EQ(ini.value("Radio/TitleCodePage").toString(), "KOI8-R");

    TExtraSettings r;
    EXPECT_FALSE(r.Load(path).Any());
    EXPECT_FALSE(r.ResumePlayback);
    EXPECT_FALSE(r.TitlesFromTags);
    EXPECT_FALSE(r.SheetsInFolders);
    EXPECT_EQ(r.ReplayGainMode, TReplayGainMode::Album);
    EXPECT_DOUBLE_EQ(r.ReplayGainPreampDb, -7.25);
    EXPECT_FALSE(r.ReplayGainPreventClipping);
    EXPECT_EQ(r.ResumeEntry, 1234);
    EXPECT_EQ(r.ResumePositionMs, 3'600'123);
    EXPECT_EQ(r.ResumeVolume, 37);
    EXPECT_TRUE(r.ResumeWasPlaying);
    EXPECT_EQ(r.TitleCodePage, "KOI8-R");
    EXPECT_EQ(r.PlaylistRows, 40);
    EXPECT_EQ(r.LastFolder, s.LastFolder);
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(Home()).entryList(QDir::Files), QStringList{"wavelantern.conf"});
}

// Each value present but unusable, and each line that is not INI text,
// counts as damage; a missing key or file does not.
TEST_F(ExtraSettings, MissingDamagedAndOutOfRangeValuesGiveDefaults) {
    const QString path = Home() + "wavelantern.conf";
    TExtraSettings s;
    s.ResumeEntry = 9;  // Load replaces every field
    EXPECT_FALSE(s.Load(path).Any());
    ExpectDefaults(s);

    QByteArray garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 151 + 7) & 0xFF);
    const struct {
        QByteArray bytes;
        int values, lines;
    } cases[] = {
        {QByteArray(), 0, 0},
        {QByteArray("[Playback]\n; a comment\n# another\n\n[Unknown]\nKey=1\n"), 0, 0},
        {QByteArray("[Playback]\nResumePlay"), 0, 1},
        {QByteArray("[Playback]\nResumePlayback=maybe\nTitlesFromTags=\n[ReplayGain]\nMode=7\nPreampDb=99\n"
                    "PreventClipping=2\n[Resume]\nEntry=-4\nPositionMs=abc\nVolume=101\nWasPlaying=yes\n"),
         9, 0},
        {QByteArray("[ReplayGain]\nPreampDb=nan\nMode=-1\n"), 2, 0},
        {QByteArrayLiteral("[ReplayGain\nMode=1\x00\n[Resume]\nVolume=\xFF\xFE\n"), 0, 3},
        {QByteArray("[Resume]\nVolume=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\xff)\n"), 1, 0},
        // A code page the converter does not know, or one that is not 8-bit
        // text, is damage; an empty one is the default.
        {QByteArray("[Radio]\nTitleCodePage=no-such-page\n"), 1, 0},
        {QByteArray("[Radio]\nTitleCodePage=UTF-16LE\n"), 1, 0},
        {QByteArray("[Radio]\nTitleCodePage=\"WINDOWS 1252\"\n"), 1, 0},
        {QByteArray("[Radio]\nTitleCodePage= \n"), 0, 0},
        // The list's height within its limits; the folder an absolute path
        // without control characters.
        {QByteArray("[Playlist]\nRows=5\nLastFolder=music\n"), 2, 0},
        {QByteArray("[Playlist]\nRows=41\nLastFolder=/a%0Ab\n"), 2, 0},
        {QByteArray("[Playlist]\nLastFolder=/%FF\n"), 1, 0},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteText(path, c.bytes));
        TExtraSettings loaded;
        loaded.ResumeVolume = 50;
        const TExtraSettingsDamage damage = loaded.Load(path);
        ExpectDefaults(loaded);
        EXPECT_EQ(damage.Values, c.values) << c.bytes.constData();
        EXPECT_EQ(damage.Lines, c.lines) << c.bytes.constData();
    }
    ASSERT_TRUE(WriteText(path, garbage));
    EXPECT_TRUE(s.Load(path).Any());
    ExpectDefaults(s);
    // A file beyond the size limit: its start is read, the rest counted once.
    ASSERT_TRUE(WriteText(path, "[Resume]\nVolume=7\n" + QByteArray(70000, '\n')));
    EXPECT_EQ(s.Load(path).Lines, 1);
    EXPECT_EQ(s.ResumeVolume, 7);
    // A good value among bad ones is kept; a byte-order mark is no damage.
    ASSERT_TRUE(WriteText(path, "\xEF\xBB\xBF[ReplayGain]\nMode=x\nPreampDb=12\n[Resume]\nVolume=0\n"));
    EXPECT_EQ(s.Load(path).Values, 1);
    EXPECT_EQ(s.ReplayGainMode, TReplayGainMode::Off);
    EXPECT_EQ(s.ReplayGainPreampDb, 12.0);
    EXPECT_EQ(s.ResumeVolume, 0);
}

// Written at start beside "wl.ini", which keeps its record byte for byte;
// a damaged file starts with defaults and is replaced by a readable one.
TEST_F(ExtraSettings, WrittenAtStartBesideAnUnchangedRecord) {
    ASSERT_TRUE(WriteText(Home() + "wavelantern.conf", QByteArray(300, '\xFF')));
    Create();
    ExpectDefaults(form1->Extra);
    ASSERT_TRUE(RunEventsUntil([&] { return form1->StatusText != "Welcome!"; }));
    EXPECT_EQ(form1->StatusText, "Settings file wavelantern.conf was damaged: 1 unreadable line ignored");
    EXPECT_EQ(ReadAll(Home() + "wl.ini").size(), 30 + QFile::encodeName(QDir::currentPath()).size());
    TExtraSettings written;
    written.ResumeVolume = 5;
    written.Load(Home() + "wavelantern.conf");
    ExpectDefaults(written);
    EXPECT_TRUE(ReadAll(Home() + "wavelantern.conf").startsWith("[Playback]\n"));
}

TEST_F(ExtraSettings, OptionsPanelBoxesLoadAndSave) {
    TExtraSettings stored;
    stored.TitlesFromTags = false;
    stored.ReplayGainMode = TReplayGainMode::Track;
    ASSERT_TRUE(stored.Save(Home() + "wavelantern.conf"));
    Create();
    ASSERT_NE(form1->CheckBox10, nullptr);
    ASSERT_NE(form1->CheckBox11, nullptr);
    EXPECT_EQ(form1->CheckBox10->text(), "Resume playback");
    EXPECT_EQ(form1->CheckBox11->text(), "Titles from tags");
    EXPECT_EQ(form1->CheckBox10->parentWidget(), form1->Panel4);
    EXPECT_TRUE(form1->CheckBox10->isChecked());
    EXPECT_FALSE(form1->CheckBox11->isChecked());
    // The stored ReplayGain mode reaches the combo box and the player.
    EXPECT_EQ(form1->ComboBox2->currentText(), "Track");
    EXPECT_EQ(OnPlayer([](TMP3Player& p) { return p.ReplayGainMode(); }), mrgTrack);

    form1->CheckBox10->setChecked(false);
    form1->CheckBox11->setChecked(true);
    form1->ComboBox2->setCurrentIndex(2);
    form1->Button1Click();
    EXPECT_EQ(OnPlayer([](TMP3Player& p) { return p.ReplayGainMode(); }), mrgAlbum);
    TExtraSettings saved;
    saved.Load(Home() + "wavelantern.conf");
    EXPECT_FALSE(saved.ResumePlayback);
    EXPECT_TRUE(saved.TitlesFromTags);
    EXPECT_EQ(saved.ReplayGainMode, TReplayGainMode::Album);
}

}  // namespace wl::test
