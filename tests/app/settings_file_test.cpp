// "wl.ini": the record's layout, loading with defaults, the rewrite at start,
// the options panel and its "Save".
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QToolButton>

#include <algorithm>
#include <random>

#include "controls/ex_track_bar.h"

#include "tests/app/app_fixture.h"

namespace wl::test {

namespace {

const QByteArray kDefaultRecord = QByteArray::fromHex(
    "0401000000"            // priority, on top, repeat, time remaining, equalizer
    "00000000000000000000"  // gains
    "cc404000"              // meter colour
    "00000001"              // cache, fast meters, random, screensaver
    "9b006400"              // left 155, top 100
    "010032");              // peak, autoload, brightness 50

QByteArray CurrentFolderBytes() { return QFile::encodeName(QDir::currentPath()); }

bool Flag(QByteArrayView f) { return static_cast<uint8_t>(f[0]) <= 1; }

// The fixed record's fields by place and size, and whether raw bytes are in
// range for each, as the record's layout documents them.
struct TFieldRange {
    qsizetype at, size;
    bool (*valid)(QByteArrayView field);
};
const TFieldRange kFieldRanges[] = {
    {0, 1, [](QByteArrayView f) { return f[0] >= 1 && f[0] <= 7; }},  // priority
    {1, 1, Flag}, {2, 1, Flag}, {3, 1, Flag},
    {4, 1, [](QByteArrayView f) { return Flag(f) || f[0] == 100; }},  // equalizer on
    {5, 10, [](QByteArrayView f) {
         return std::all_of(f.begin(), f.end(), [](char g) { return g >= -60 && g <= 60; });
     }},
    {15, 4, [](QByteArrayView f) { return f[3] == 0; }},  // meter colour 0x00RRGGBB
    {19, 1, Flag}, {20, 1, Flag}, {21, 1, Flag}, {22, 1, Flag},
    {23, 2, [](QByteArrayView) { return true; }}, {25, 2, [](QByteArrayView) { return true; }},
    {27, 1, Flag}, {28, 1, Flag},
    {29, 1, [](QByteArrayView f) { return static_cast<uint8_t>(f[0]) <= 100; }},  // brightness
};

}  // namespace

TEST(SettingsRecord, DefaultsEncodeToTheDocumentedBytes) {
    EXPECT_EQ(EncodeSettings(TSettings{}).toHex(), kDefaultRecord.toHex());
    EXPECT_EQ(kDefaultRecord.size(), static_cast<qsizetype>(kSettingsFixedSize));
}

TEST(SettingsRecord, EveryFieldRoundTripsLittleEndian) {
    TSettings s;
    s.DecoderPriority = 7;
    s.AlwaysOnTop = 0;
    s.RepeatPlay = 3;
    s.TimeRemaining = 2;
    s.EqualizerOn = 100;
    s.EqualizerGains = {-60, -1, 0, 1, 60, -35, 20, -128, 127, 5};
    s.VuColor = 0x00A1B2C3;
    s.UseCache = 1;
    s.FastVuMeters = 1;
    s.RandomPlay = 9;
    s.Screensaver = 0;
    s.WindowLeft = -300;
    s.WindowTop = 0x1234;
    s.PeakLevel = 0;
    s.AutoloadPlaylist = 1;
    s.Brightness = 100;
    s.CurrentFolder = "/home/u/M\xC3\xBCsik";
    const QByteArray bytes = EncodeSettings(s);
    ASSERT_EQ(bytes.size(), static_cast<qsizetype>(kSettingsFixedSize + s.CurrentFolder.size()));
    EXPECT_EQ(bytes.mid(15, 4).toHex(), "c3b2a100");
    EXPECT_EQ(bytes.mid(23, 4).toHex(), "d4fe3412");  // -300, 0x1234

    const TSettings r = DecodeSettings(bytes);
    EXPECT_EQ(r.DecoderPriority, 7);
    EXPECT_EQ(r.AlwaysOnTop, 0);
    EXPECT_EQ(r.RepeatPlay, 3);
    EXPECT_EQ(r.TimeRemaining, 2);
    EXPECT_EQ(r.EqualizerOn, 100);
    EXPECT_EQ(r.EqualizerGains, s.EqualizerGains);
    EXPECT_EQ(r.VuColor, 0x00A1B2C3u);
    EXPECT_EQ(r.UseCache, 1);
    EXPECT_EQ(r.FastVuMeters, 1);
    EXPECT_EQ(r.RandomPlay, 9);
    EXPECT_EQ(r.Screensaver, 0);
    EXPECT_EQ(r.WindowLeft, -300);
    EXPECT_EQ(r.WindowTop, 0x1234);
    EXPECT_EQ(r.PeakLevel, 0);
    EXPECT_EQ(r.AutoloadPlaylist, 1);
    EXPECT_EQ(r.Brightness, 100);
    EXPECT_EQ(r.CurrentFolder, s.CurrentFolder);
}

// A field cut short keeps its default, and so does every later one.
TEST(SettingsRecord, ShortRecordsKeepDefaultsFromTheCutOn) {
    const QByteArray full = QByteArray::fromHex("0200010203" "01020304050607080910" "11223300" "01010100" "0a000b00" "000037");
    const TSettings three = DecodeSettings(full.left(3));
    EXPECT_EQ(three.DecoderPriority, 2);
    EXPECT_EQ(three.AlwaysOnTop, 0);
    EXPECT_EQ(three.RepeatPlay, 1);
    EXPECT_EQ(three.TimeRemaining, 0);
    EXPECT_EQ(three.Screensaver, 1);
    EXPECT_EQ(three.Brightness, 50);

    // Half of the gains: none of them is taken, nor anything after them.
    const TSettings gains = DecodeSettings(full.left(10));
    EXPECT_EQ(gains.EqualizerOn, 3);
    EXPECT_EQ(gains.EqualizerGains, (std::array<int8_t, 10>{}));
    EXPECT_EQ(gains.VuColor, 0x004040CCu);

    // One byte of the left position: it and the rest are defaults.
    const TSettings left = DecodeSettings(full.left(24));
    EXPECT_EQ(left.Screensaver, 0);
    EXPECT_EQ(left.WindowLeft, 155);
    EXPECT_EQ(left.WindowTop, 100);
    EXPECT_EQ(left.PeakLevel, 1);
    EXPECT_TRUE(left.CurrentFolder.empty());

    const TSettings all = DecodeSettings(full);
    EXPECT_EQ(all.WindowLeft, 10);
    EXPECT_EQ(all.WindowTop, 11);
    EXPECT_EQ(all.Brightness, 0x37);
    EXPECT_TRUE(all.CurrentFolder.empty());
}

// Arbitrary bytes, and valid records with a few bytes changed: every field
// ends in range, one the bytes hold in range is kept, any other takes its
// default, and each field that did is counted.
TEST(SettingsRecord, AnyBytesDecodeIntoRangeCountingEachFieldReset) {
    std::mt19937 random(20240611);
    const QByteArray defaults = EncodeSettings(TSettings{});
    int reported = 0;
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes;
        if (round % 2 == 0) {
            bytes.resize(static_cast<qsizetype>(random() % 48));
            for (char& c : bytes) c = static_cast<char>(random());
        } else {
            bytes = kDefaultRecord + QByteArray("/music");
            for (int i = static_cast<int>(random() % 3); i > 0; --i) bytes[random() % bytes.size()] = static_cast<char>(random());
            bytes.truncate(static_cast<qsizetype>(random() % (bytes.size() + 1)));
        }
        int expected = 0;
        TSettings s = DecodeSettings(bytes);
        const int reset = ResetOutOfRange(s);
        const QByteArray result = EncodeSettings(s);
        for (const TFieldRange& f : kFieldRanges) {
            const bool present = f.at + f.size <= bytes.size();
            const bool valid = present && f.valid(bytes.mid(f.at, f.size));
            if (present && !valid) ++expected;
            ASSERT_EQ(result.mid(f.at, f.size), (valid ? bytes : defaults).mid(f.at, f.size))
                << "round " << round << ", byte " << f.at << ": " << bytes.toHex().constData();
        }
        const QByteArray folder = bytes.mid(static_cast<qsizetype>(kSettingsFixedSize));
        const bool folderValid = folder.isEmpty() || (folder.startsWith('/') && !folder.contains('\0'));
        if (!folderValid) ++expected;
        ASSERT_EQ(result.mid(static_cast<qsizetype>(kSettingsFixedSize)), folderValid ? folder : QByteArray());
        ASSERT_EQ(reset, expected) << "round " << round << ": " << bytes.toHex().constData();
        if (reset > 0) ++reported;
    }
    EXPECT_GT(reported, 10000);  // both kinds of input were met
    EXPECT_LT(reported, 19000);
}

TEST(SettingsRecord, OutOfRangeFieldsTakeTheirDefaultsOneByOne) {
    QByteArray record = kDefaultRecord + "/music";
    record[0] = 3;
    record[2] = 7;             // repeat: a flag
    record[7] = 100;           // one gain at +20 dB
    record[8] = -20;
    record[18] = 1;            // meter colour with its top byte set
    record[29] = char(200);    // brightness
    TSettings s = DecodeSettings(record);
    EXPECT_EQ(ResetOutOfRange(s), 4);
    EXPECT_EQ(s.RepeatPlay, 0);
    EXPECT_EQ(s.EqualizerGains, (std::array<int8_t, 10>{}));  // flat, not half a curve
    EXPECT_EQ(s.VuColor, 0x004040CCu);
    EXPECT_EQ(s.Brightness, 50);
    EXPECT_EQ(s.DecoderPriority, 3);  // the rest as stored
    EXPECT_EQ(s.CurrentFolder, "/music");

    // Every field at the ends of its range: nothing to reset.
    TSettings edge;
    edge.DecoderPriority = 7;
    edge.AlwaysOnTop = 0;
    edge.EqualizerOn = 100;  // what "Eq ON" stores
    edge.EqualizerGains = {-60, 60, 0, 1, -1, 59, -59, 30, -30, 60};
    edge.VuColor = 0x00FFFFFF;
    edge.WindowLeft = -32768;
    edge.WindowTop = -5;
    edge.Brightness = 100;
    TSettings loaded = DecodeSettings(EncodeSettings(edge));
    EXPECT_EQ(ResetOutOfRange(loaded), 0);
    EXPECT_EQ(EncodeSettings(loaded), EncodeSettings(edge));
    edge.EqualizerOn = 1;
    loaded = edge;
    EXPECT_EQ(ResetOutOfRange(loaded), 0);
    EXPECT_EQ(loaded.EqualizerOn, 1);
}

TEST(SettingsRecord, SwapRedBlueExchangesTheOuterBytes) {
    EXPECT_EQ(TForm1::SwapRedBlue(0x123456), 0x563412u);
    EXPECT_EQ(TForm1::SwapRedBlue(0x4040CC), 0xCC4040u);
    EXPECT_EQ(TForm1::SwapRedBlue(TForm1::SwapRedBlue(0xA1B2C3)), 0xA1B2C3u);
}

using SettingsLoad = AppFixture;

TEST_F(SettingsLoad, FirstStartWritesDefaultsAndTheStartFolder) {
    const QByteArray startFolder = CurrentFolderBytes();
    Create();
    const QByteArray file = ReadAll(Home() + "wl.ini");
    ASSERT_EQ(file.size(), 30 + startFolder.size());
    EXPECT_EQ(file.left(30).toHex(), kDefaultRecord.toHex());
    EXPECT_EQ(file.mid(30), startFolder);

    EXPECT_EQ(form1->ComboBox1->currentText(), "Normal");
    EXPECT_TRUE(form1->CheckBox1->isChecked());
    EXPECT_TRUE(form1->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(form1->CheckBox7->isChecked());
    EXPECT_TRUE(form1->CheckBox8->isChecked());
    EXPECT_FALSE(form1->CheckBox2->isChecked());
    EXPECT_EQ(form1->ExTrackBar3->Position(), 50);
    EXPECT_EQ(form1->StaticText2->palette().color(QPalette::Window), QColor(0x40, 0x40, 0xCC));  // blue
}

TEST_F(SettingsLoad, ThreeByteFileLoadsWithDefaultsAndIsRewrittenInFull) {
    ASSERT_TRUE(WriteText(Home() + "wl.ini", QByteArray::fromHex("020001")));
    Create();
    EXPECT_EQ(form1->ComboBox1->currentText(), "Highest");
    EXPECT_EQ(OnPlayer([](TMP3Player& p) { return p.DecodePriority(); }), TThreadPriority::tpHighest);
    EXPECT_FALSE(form1->CheckBox1->isChecked());
    EXPECT_FALSE(form1->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(form1->CheckBox2->isChecked());
    EXPECT_TRUE(form1->CheckBox7->isChecked());  // later fields at their defaults

    QByteArray expected = kDefaultRecord;
    expected[0] = 2;
    expected[1] = 0;
    expected[2] = 1;
    const QByteArray file = ReadAll(Home() + "wl.ini");
    EXPECT_EQ(file.left(30).toHex(), expected.toHex());
    EXPECT_EQ(file.mid(30), CurrentFolderBytes());
}

TEST_F(SettingsLoad, EqualizerStoredAs100LoadsAsOn) {
    QByteArray record = kDefaultRecord;
    record[4] = 100;
    ASSERT_TRUE(WriteText(Home() + "wl.ini", record));
    Create();
    EXPECT_EQ(form1->Settings.EqualizerOn, 100);
    EXPECT_TRUE(OnPlayer([](TMP3Player& p) { return p.EqualizerEnabled(); }));
}

TEST_F(SettingsLoad, IdleIsSavedAs7WhileThePlayerKeepsItsPriority) {
    Create();
    form1->Image14Click();
    ASSERT_FALSE(form1->Panel4->isHidden());
    form1->ComboBox1->setEditText("Idle");
    form1->Button1Click();
    EXPECT_EQ(ReadAll(Home() + "wl.ini")[0], 7);
    EXPECT_EQ(OnPlayer([](TMP3Player& p) { return p.DecodePriority(); }), TThreadPriority::tpNormal);
    // "Save" closes the panel.
    EXPECT_TRUE(form1->Panel4->isHidden());
    EXPECT_EQ(form1->height(), 183);
    EXPECT_FALSE(form1->PanelOpen);

    // Applied at the next start.
    form2.reset();
    form1.reset();
    Create();
    EXPECT_EQ(OnPlayer([](TMP3Player& p) { return p.DecodePriority(); }), TThreadPriority::tpIdle);
    EXPECT_EQ(form1->ComboBox1->currentText(), "Idle");
}

TEST_F(SettingsLoad, PriorityTextOutsideTheListSavesNormal) {
    Create();
    form1->ComboBox1->setEditText("idle");  // exact match only
    form1->Button1Click();
    EXPECT_EQ(ReadAll(Home() + "wl.ini")[0], 4);
    EXPECT_EQ(OnPlayer([](TMP3Player& p) { return p.DecodePriority(); }), TThreadPriority::tpNormal);
}

TEST_F(SettingsLoad, CheckBoxesFollowTheFieldsAndSaveAsOneOrZero) {
    QByteArray record = kDefaultRecord;
    record[1] = 0;   // not on top
    record[2] = 1;   // repeat
    record[19] = 1;  // cache
    record[20] = 1;  // fast meters
    record[21] = 1;  // random
    record[22] = 0;  // screensaver
    record[27] = 0;  // peak level
    record[28] = 1;  // autoload
    ASSERT_TRUE(WriteText(Home() + "wl.ini", record));
    Create();
    EXPECT_FALSE(form1->CheckBox1->isChecked());
    EXPECT_TRUE(form1->CheckBox2->isChecked());
    EXPECT_TRUE(form1->CheckBox4->isChecked());
    EXPECT_TRUE(form1->CheckBox5->isChecked());
    EXPECT_TRUE(form1->CheckBox6->isChecked());
    EXPECT_FALSE(form1->CheckBox7->isChecked());
    EXPECT_FALSE(form1->CheckBox8->isChecked());
    EXPECT_TRUE(form1->CheckBox9->isChecked());

    // Unsaved changes of the boxes leave the fields alone.
    form1->CheckBox7->setChecked(true);
    form1->CheckBox2->setChecked(false);
    EXPECT_EQ(form1->Settings.Screensaver, 0);
    form1->Button1Click();
    const QByteArray saved = ReadAll(Home() + "wl.ini");
    EXPECT_EQ(saved[1], 0);
    EXPECT_EQ(saved[2], 0);
    EXPECT_EQ(saved[19], 1);
    EXPECT_EQ(saved[21], 1);
    EXPECT_EQ(saved[22], 1);
    EXPECT_EQ(saved[27], 0);
    EXPECT_EQ(saved[28], 1);
}

// Shown once the start is done (after its greeting); the record written at
// start is the one in range.
TEST_F(SettingsLoad, DamagedRecordIsReportedAtStartAndRewrittenInRange) {
    QByteArray record = kDefaultRecord;
    record[0] = 9;           // priority
    record[2] = 7;           // repeat
    record[4] = 50;          // equalizer on
    record[6] = 100;         // a gain
    record[18] = 1;          // meter colour
    record[21] = 2;          // random
    record[29] = char(200);  // brightness
    record[23] = char(0xEC); // left -20: kept
    record[24] = char(0xFF);
    ASSERT_TRUE(WriteText(Home() + "wl.ini", record));
    Create();
    ASSERT_TRUE(RunEventsUntil([&] { return form1->StatusText.contains("wl.ini"); }))
        << form1->StatusText.toStdString();
    EXPECT_EQ(form1->StatusText, "Settings file wl.ini was damaged: defaults used for 7 options");
    QByteArray expected = kDefaultRecord;
    expected[23] = char(0xEC);
    expected[24] = char(0xFF);
    EXPECT_EQ(ReadAll(Home() + "wl.ini").left(30).toHex(), expected.toHex());
    EXPECT_EQ(form1->Settings.WindowLeft, -20);
    EXPECT_FALSE(form1->CheckBox2->isChecked());
    EXPECT_FALSE(form1->CheckBox6->isChecked());
    EXPECT_EQ(form1->ExTrackBar3->Position(), 50);
    EXPECT_FALSE(OnPlayer([](TMP3Player& p) { return p.EqualizerEnabled(); }));
    EXPECT_EQ(OnPlayer([](TMP3Player& p) { return p.DecodePriority(); }), TThreadPriority::tpNormal);
}

// A valid record (the equalizer stored as 100, the window left and above the
// screen), an old short one and none at all: nothing to report.
TEST_F(SettingsLoad, ValidShortAndMissingRecordsAreNotReported) {
    QByteArray valid = kDefaultRecord;
    valid[4] = 100;
    valid[24] = char(0xFF);  // left -101
    valid[26] = char(0x80);  // top -32668
    for (const QByteArray& bytes : {valid, QByteArray::fromHex("020001"), QByteArray()}) {
        form2.reset();
        form1.reset();
        QFile::remove(Home() + "wl.ini");
        if (!bytes.isEmpty()) {
            ASSERT_TRUE(WriteText(Home() + "wl.ini", bytes));
        }
        Create();
        RunEvents(100);
        EXPECT_EQ(form1->StatusText, "Welcome!") << bytes.toHex().constData();
        if (bytes == valid) {
            EXPECT_EQ(form1->Settings.WindowLeft, -101);
            EXPECT_EQ(form1->Settings.WindowTop, -32668);
            EXPECT_EQ(form1->Settings.EqualizerOn, 100);
        }
    }
}

TEST_F(SettingsLoad, StoredFolderBecomesCurrentAfterTheRewrite) {
    QTemporaryDir music;
    const QString folder = music.path() + QString::fromUtf8("/M\xC3\xBCsik");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QByteArray startFolder = CurrentFolderBytes();
    ASSERT_TRUE(WriteText(Home() + "wl.ini", kDefaultRecord + folder.toUtf8()));
    Create();
    EXPECT_EQ(QDir::currentPath(), folder);
    // The rewrite at start stored the folder that was current before.
    EXPECT_EQ(ReadAll(Home() + "wl.ini").mid(30), startFolder);
    // Any later save stores the current one.
    form1->SaveSettings();
    EXPECT_EQ(ReadAll(Home() + "wl.ini").mid(30), folder.toUtf8());
}

TEST_F(SettingsLoad, VanishedStoredFolderIsIgnored) {
    const QString start = QDir::currentPath();
    ASSERT_TRUE(WriteText(Home() + "wl.ini", kDefaultRecord + QByteArray("/no/such/folder/anywhere")));
    Create();
    EXPECT_EQ(QDir::currentPath(), start);
    EXPECT_EQ(ReadAll(Home() + "wl.ini").size(), 30 + CurrentFolderBytes().size());
}

TEST_F(SettingsLoad, ColourSwatchActsAtOnceAndReachesTheFileWithTheNextSave) {
    Create();
    const QByteArray before = ReadAll(Home() + "wl.ini");
    form1->ColorSwatchClick(2);  // green, 0x40CC40
    EXPECT_EQ(form1->Settings.VuColor, 0x40CC40u);
    EXPECT_EQ(form1->StaticText2->palette().color(QPalette::Window), QColor(0x40, 0xCC, 0x40));
    EXPECT_EQ(ReadAll(Home() + "wl.ini"), before);
    form1->ColorSwatchClick(0);  // blue: platform 0xCC4040, meter value 0x4040CC
    EXPECT_EQ(form1->Settings.VuColor, 0x4040CCu);
    form1->Button1Click();
    EXPECT_EQ(ReadAll(Home() + "wl.ini").mid(15, 4).toHex(), "cc404000");
    form1->ColorSwatchClick(1);  // red
    form1->SaveSettings();
    EXPECT_EQ(ReadAll(Home() + "wl.ini").mid(15, 4).toHex(), "4040cc00");
}

TEST_F(SettingsLoad, StayOnTopFollowsSaveAndKeepsTheWindowShowing) {
    Create();
    form1->show();
    ASSERT_TRUE(form1->isVisible());
    form1->Image14Click();
    form1->CheckBox1->setChecked(false);
    form1->Button1Click();
    EXPECT_FALSE(form1->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(form1->isVisible());
    EXPECT_TRUE(form1->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(ReadAll(Home() + "wl.ini")[1], 0);
    form1->Image14Click();
    form1->CheckBox1->setChecked(true);
    form1->Button1Click();
    EXPECT_TRUE(form1->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(form1->isVisible());
}

TEST_F(SettingsLoad, OptionsPanelShowsEveryOption) {
    Create();
    QStringList texts;
    for (QCheckBox* box : form1->Panel4->findChildren<QCheckBox*>()) texts << box->text();
    for (QLabel* label : form1->Panel4->findChildren<QLabel*>()) {
        if (!label->text().isEmpty()) texts << label->text();
    }
    for (const char* expected : {"Decoder priority", "Always on top", "Repeat", "Time remaining", "VU color",
                                 "Brightness", "Use cache", "Fast VUmeters", "Peak level", "Random play",
                                 "Screensaver", "Autoload playlist"}) {
        EXPECT_TRUE(texts.contains(QString::fromLatin1(expected))) << expected;
    }
    ASSERT_EQ(form1->ComboBox1->count(), 7);
    EXPECT_TRUE(form1->ComboBox1->isEditable());
    EXPECT_EQ(form1->ComboBox1->itemText(0), "Time critical");
    EXPECT_EQ(form1->ComboBox1->itemText(6), "Idle");
    EXPECT_EQ(form1->SpeedButton18->text(), "Save");
    EXPECT_EQ(form1->ExTrackBar3->Min(), 0);
    EXPECT_EQ(form1->ExTrackBar3->Max(), 100);
    for (QLabel* swatch : form1->ColorSwatches) ASSERT_NE(swatch, nullptr);
}

}  // namespace wl::test
