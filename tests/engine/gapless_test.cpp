// Gapless playback: a continuous signal cut into tracks at arbitrary samples
// and encoded one by one comes back sample-exact in length, aligned, and
// joined without a gap; exact lengths from the encoder's header and from
// iTunSMPB; ReplayGain in the output stage; seeks on music samples.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/mp3_player.h"
#include "engine/player_decode.h"
#include "tests/engine/player_support.h"
#include "tests/tag_builder.h"
#include "tests/test_support.h"

namespace wl {
namespace {

using test::kPcmPerFrame;

// A sweep under a steady tone, the channels a little apart: any gap, repeat
// or shift at a join shows.
std::vector<int16_t> Continuous(int32_t rate, int64_t samples) {
    std::vector<int16_t> pcm;
    pcm.reserve(static_cast<size_t>(samples) * 2);
    double phase = 0;
    for (int64_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / rate;
        phase += 2 * M_PI * (150.0 + 2500.0 * t / (static_cast<double>(samples) / rate)) / rate;
        const double tone = std::sin(2 * M_PI * 440.0 * t);
        pcm.push_back(static_cast<int16_t>(9000 * std::sin(phase) + 4000 * tone));
        pcm.push_back(static_cast<int16_t>(9000 * std::sin(phase * 1.01) - 4000 * tone));
    }
    return pcm;
}

struct Encoded {
    std::vector<std::string> files;
    std::vector<std::vector<int16_t>> tracks;  // the source of each file
};

// Cuts `source` at sample positions that are no frame multiples and encodes
// each piece with lame.
Encoded EncodeTracks(const test::TempDir& dir, const std::string& name, const std::vector<int16_t>& source,
                     int32_t rate, const std::string& options) {
    Encoded e;
    const int64_t total = static_cast<int64_t>(source.size() / 2);
    const int64_t cuts[] = {0, total * 23 / 100 + 17, total * 51 / 100 + 301, total * 77 / 100 + 5, total};
    for (int i = 0; i < 4; ++i) {
        std::vector<int16_t> piece(source.begin() + cuts[i] * 2, source.begin() + cuts[i + 1] * 2);
        const std::string wav = dir.File(name + std::to_string(i) + ".wav");
        const std::string mp3 = dir.File(name + std::to_string(i) + ".mp3");
        EXPECT_TRUE(test::WriteWav(wav, piece, 2, rate));
        const auto r = test::RunCommand("lame --quiet " + options + " " + test::ShellQuote(wav) + " " +
                                        test::ShellQuote(mp3) + " 2>&1");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        e.files.push_back(mp3);
        e.tracks.push_back(std::move(piece));
    }
    return e;
}

std::vector<int16_t> PlayAll(const std::vector<std::string>& files, std::vector<int64_t>* lengths = nullptr) {
    test::PlayerFixture f(50);
    TMP3Player& p = f.player;
    size_t index = 0;
    int starts = 0;
    p.OnNextStarted = [&](TMP3Player* s) {
        ++starts;
        ++index;
        EXPECT_EQ(s->FileName(), files[index]);
        if (lengths) lengths->push_back(s->Length());
        s->SetNextFileName(index + 1 < files.size() ? files[index + 1] : "");
    };
    p.SetFileName(files[0]);
    if (lengths) lengths->push_back(p.Length());
    p.SetNextFileName(files[1]);
    p.Play();
    EXPECT_TRUE(test::PumpUntil(p, [&] { return !f.log.ends.empty(); }, std::chrono::seconds(60)));
    EXPECT_EQ(starts, static_cast<int>(files.size()) - 1) << "every file after the first follows without a stop";
    EXPECT_EQ(f.rec->resets.load(), 1) << "the output was reset between files, not only at the stop";
    return test::BytesToPcm16(f.rec->All());
}

double RmsError(const int16_t* a, const int16_t* b, size_t n) {
    double e = 0;
    for (size_t i = 0; i < n; ++i) e += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return std::sqrt(e / static_cast<double>(n));
}

// The joins show no more error against the source than the middle of the
// tracks does.
void ExpectCleanJoins(const std::vector<int16_t>& joined, const std::vector<int16_t>& source, const Encoded& e) {
    const size_t window = 2 * 1152;
    double middle = 0;
    size_t at = 0;
    std::vector<size_t> joins;
    for (size_t i = 0; i < e.tracks.size(); ++i) {
        const size_t mid = at + e.tracks[i].size() / 2 - window / 2;
        middle = std::max(middle, RmsError(joined.data() + mid, source.data() + mid, window));
        at += e.tracks[i].size();
        if (i + 1 < e.tracks.size()) joins.push_back(at - window / 2);
    }
    for (size_t j : joins) {
        EXPECT_LE(RmsError(joined.data() + j, source.data() + j, window), middle * 1.5 + 20) << "join at " << j / 2;
    }
}

struct GaplessCase {
    const char* name;
    int32_t rate;
    const char* options;
    // The encoder codes the edges of a track as well as its middle (not so
    // in VBR, where every decoder shows the same error at the joins).
    bool cleanEdges;
};

class GaplessTracks : public ::testing::TestWithParam<GaplessCase> {};

TEST_P(GaplessTracks, PlayExactlyTheSourceAndJoinWithoutAGap) {
    if (!test::OnPath("lame")) GTEST_SKIP() << "lame is not installed (scripts/setup.sh installs it)";
    const GaplessCase& c = GetParam();
    test::TempDir dir;
    const std::vector<int16_t> source = Continuous(c.rate, c.rate * 3);
    const Encoded e = EncodeTracks(dir, c.name, source, c.rate, c.options);

    std::vector<int16_t> oneByOne, oracle;
    for (size_t i = 0; i < e.files.size(); ++i) {
        SCOPED_TRACE(e.files[i]);
        std::vector<int16_t> played;
        TFileStream stream(e.files[i]);
        DecodeAsPlayer(stream, nullptr, [&](const uint8_t* pcm, int32_t n) {
            const auto* s = reinterpret_cast<const int16_t*>(pcm);
            played.insert(played.end(), s, s + n / 2);
            return true;
        });
        ASSERT_EQ(played.size(), e.tracks[i].size()) << "samples off: "
                                                     << (int64_t(played.size()) - int64_t(e.tracks[i].size())) / 2;
        // Aligned: no shift of the source fits better than none.
        const size_t n = played.size() - 200;
        const double at0 = RmsError(played.data() + 100, e.tracks[i].data() + 100, n);
        for (int shift : {-4, -2, 2, 4}) {
            EXPECT_LT(at0, RmsError(played.data() + 100, e.tracks[i].data() + 100 + shift, n)) << shift;
        }
        EXPECT_LT(at0, 400.0);
        // mpg123 trims with the same information.
        if (test::OnPath("mpg123")) {
            const auto r = test::RunCommand("mpg123 -q -s " + test::ShellQuote(e.files[i]) + " 2>/dev/null");
            EXPECT_EQ(r.output.size() / 2, played.size()) << "mpg123 plays another length";
            const auto theirs = test::BytesToPcm16(
                std::span(reinterpret_cast<const uint8_t*>(r.output.data()), r.output.size()));
            oracle.insert(oracle.end(), theirs.begin(), theirs.end());
        }
        oneByOne.insert(oneByOne.end(), played.begin(), played.end());
    }

    std::vector<int64_t> lengths;
    const std::vector<int16_t> joined = PlayAll(e.files, &lengths);
    ASSERT_EQ(joined.size(), source.size()) << "samples off: " << (int64_t(joined.size()) - int64_t(source.size())) / 2;
    EXPECT_TRUE(joined == oneByOne) << "playing on into the next file changes no sample";
    if (oracle.size() == joined.size()) {
        const auto cmp = test::ComparePcm(joined, oracle);
        EXPECT_LE(cmp.maxAbsDiff, 4) << "against mpg123: " << test::Describe(cmp);
    }
    for (size_t i = 0; i < e.tracks.size(); ++i) {
        EXPECT_EQ(lengths[i], static_cast<int64_t>(e.tracks[i].size() / 2) * 1000 / c.rate) << "Length of " << i;
    }
    if (c.cleanEdges) ExpectCleanJoins(joined, source, e);
}

INSTANTIATE_TEST_SUITE_P(Encodings, GaplessTracks,
                         ::testing::Values(GaplessCase{"cbr", 44100, "--cbr -b 128", true},
                                           GaplessCase{"vbr", 44100, "-V 2", false},
                                           GaplessCase{"mpeg2", 22050, "--cbr -b 64", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// wl-play FILE... writes one WAV of everything it played.
TEST(GaplessPlay, WlPlayWritesOneWavOfAllFiles) {
    if (!test::OnPath("lame")) GTEST_SKIP() << "lame is not installed (scripts/setup.sh installs it)";
    test::TempDir dir;
    const std::vector<int16_t> source = Continuous(44100, 44100 * 2);
    const Encoded e = EncodeTracks(dir, "t", source, 44100, "--cbr -b 160");
    const std::string tool = test::DecodeBinary();
    std::string command = test::ShellQuote(tool.substr(0, tool.rfind('/')) + "/wl-play") + " --output wav:" +
                          test::ShellQuote(dir.File("all.wav"));
    for (const auto& f : e.files) command.append(" ").append(test::ShellQuote(f));
    const auto r = test::RunCommand(command + " 2>&1");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const auto wav = test::ReadFileBytes(dir.File("all.wav"));
    ASSERT_GT(wav.size(), 44u);
    const std::vector<int16_t> pcm = test::BytesToPcm16(std::span(wav).subspan(44));
    ASSERT_EQ(pcm.size(), source.size());
    EXPECT_LT(RmsError(pcm.data(), source.data(), pcm.size()), 400.0);
    ExpectCleanJoins(pcm, source, e);
}

// A file of another format cannot go into the WAV begun by the first: it is
// refused with a message, and what was written stays; a later file of the
// first format is added after it.
TEST(GaplessPlay, WlPlayKeepsTheWavAcrossAFileOfAnotherFormat) {
    if (!test::OnPath("lame")) GTEST_SKIP() << "lame is not installed (scripts/setup.sh installs it)";
    test::TempDir dir;
    const std::vector<std::string> files = {test::LameFile(dir, "a.mp3", 1.0, "--cbr -b 128"),
                                            test::LameFile(dir, "b.mp3", 0.6, "--cbr -b 64", 22050, 1),
                                            test::LameFile(dir, "c.mp3", 0.5, "-V 4")};
    std::vector<uint8_t> expected;
    for (size_t i : {0, 2}) {
        ASSERT_FALSE(files[i].empty());
        TFileStream stream(files[i]);
        DecodeAsPlayer(stream, nullptr, [&](const uint8_t* pcm, int32_t n) {
            expected.insert(expected.end(), pcm, pcm + n);
            return true;
        });
    }
    const std::string tool = test::DecodeBinary();
    const std::string wav = dir.File("all.wav");
    std::string command = "WAVELANTERN_NULL_SPEED=10 " +
                          test::ShellQuote(tool.substr(0, tool.rfind('/')) + "/wl-play") + " --output wav:" +
                          test::ShellQuote(wav);
    for (const auto& f : files) command.append(" ").append(test::ShellQuote(f));
    const auto r = test::RunCommand(command + " 2>&1");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find(files[1] + ": " + wav + " holds 44100 Hz stereo 16-bit sound; 22050 Hz mono 16-bit sound "
                                                    "cannot be added to it"),
              std::string::npos)
        << r.output;
    const auto bytes = test::ReadFileBytes(wav);
    ASSERT_GT(bytes.size(), 44u);
    EXPECT_EQ(bytes[22] | bytes[23] << 8, 2) << "channels";
    EXPECT_EQ(bytes[24] | bytes[25] << 8 | bytes[26] << 16, 44100) << "sample rate";
    const std::vector<uint8_t> data = test::WavData(wav);
    EXPECT_EQ(data.size(), expected.size());
    EXPECT_TRUE(data == expected) << "the first and the third file, whole";
}

// Exact lengths: the header frame's extension (CBR "Info", VBR "Xing") and
// iTunSMPB; the header frame is never played.
TEST(GaplessLength, ExactFromTheHeaderFrameAndFromITunSmpb) {
    test::TempDir dir;
    if (test::OnPath("lame")) {
        for (const char* options : {"--cbr -b 128", "-V 4"}) {
            SCOPED_TRACE(options);
            const std::string file = test::LameFile(dir, "x.mp3", 2.5, options);
            ASSERT_FALSE(file.empty());
            TMP3Player p(test::NullFactory());
            p.SetAutoPlay(false);
            p.SetFileName(file);
            EXPECT_EQ(p.Length(), 2500);
        }
    }
    // 40 frames of silence with an iTunSMPB comment: delay 576, padding 940,
    // 44100 samples of music.
    const auto tag = test::Id3v2TagBuilder(3)
                         .Comment("iTunSMPB", " 00000000 00000240 000003AC 000000000000AC44 00000000 00000000")
                         .Build();
    std::vector<uint8_t> file(tag.begin(), tag.end());
    const auto frames = test::BuildFrames(40, false);
    file.insert(file.end(), frames.begin(), frames.end());
    test::PlayerFixture f(20);
    f.OpenInMemory(file);
    EXPECT_EQ(f.player.Length(), 1000);
    ASSERT_TRUE(f.PlayToEnd());
    EXPECT_EQ(f.rec->All().size(), size_t{44100} * 4);
}

// An encoder extension that fails its CRC is not used: the header frame
// gives frames and bytes only, every decoded sample plays and Length counts
// whole frames.
TEST(GaplessLength, AnExtensionFailingItsCrcGivesWholeFrames) {
    if (!test::OnPath("lame")) GTEST_SKIP() << "lame is not installed (scripts/setup.sh installs it)";
    test::TempDir dir;
    const std::string file = test::LameFile(dir, "c.mp3", 2.5, "--cbr -b 128");
    ASSERT_FALSE(file.empty());
    std::vector<uint8_t> bytes = test::ReadFileBytes(file);
    ASSERT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "Info");
    const int64_t frames = int64_t{bytes[44]} << 24 | bytes[45] << 16 | bytes[46] << 8 | bytes[47];
    bytes[36 + 120 + 10] ^= 1;  // the low-pass value, under the CRC
    test::PlayerFixture f(50);
    f.OpenInMemory(bytes);
    EXPECT_EQ(f.player.Length(), frames * 1152 * 1000 / 44100);
    ASSERT_TRUE(f.PlayToEnd());
    EXPECT_EQ(f.rec->All().size(), static_cast<size_t>(frames) * kPcmPerFrame);
}

// Track gain -6 dB: 6 dB quieter in track mode, untouched when off; album
// mode takes the album gain; a gain the peak does not allow is limited.
TEST(ReplayGain, ScalesTheOutputByTheChosenGain) {
    if (!test::OnPath("lame")) GTEST_SKIP() << "lame is not installed (scripts/setup.sh installs it)";
    test::TempDir dir;
    const std::string plain = test::LameFile(dir, "g.mp3", 1.0, "--cbr -b 128 --noreplaygain");
    ASSERT_FALSE(plain.empty());
    auto audio = test::ReadFileBytes(plain);
    auto tagged = [&](const char* track, const char* album, const char* peak) {
        auto b = test::Id3v2TagBuilder(4);
        b.UserText("REPLAYGAIN_TRACK_GAIN", track).UserText("REPLAYGAIN_ALBUM_GAIN", album);
        b.UserText("REPLAYGAIN_TRACK_PEAK", peak).UserText("REPLAYGAIN_ALBUM_PEAK", peak);
        auto bytes = b.Build();
        bytes.insert(bytes.end(), audio.begin(), audio.end());
        return bytes;
    };
    auto play = [](const std::vector<uint8_t>& bytes, TMP3ReplayGainMode mode, double* gain) {
        test::PlayerFixture f(50);
        f.player.SetReplayGain(mode, 0, true);
        f.OpenInMemory(bytes);
        *gain = f.player.AppliedGain();
        EXPECT_TRUE(f.PlayToEnd());
        return test::BytesToPcm16(f.rec->All());
    };
    auto rms = [](const std::vector<int16_t>& v) {
        double e = 0;
        for (int16_t s : v) e += double(s) * s;
        return std::sqrt(e / static_cast<double>(v.size()));
    };
    double gain = 0;
    const auto file = tagged("-6.00 dB", "-3.00 dB", "0.5");
    const auto off = play(file, mrgOff, &gain);
    EXPECT_EQ(gain, 1.0);
    const auto track = play(file, mrgTrack, &gain);
    EXPECT_NEAR(gain, std::pow(10.0, -6.0 / 20), 1e-9);
    ASSERT_EQ(off.size(), track.size());
    EXPECT_NEAR(20 * std::log10(rms(track) / rms(off)), -6.0, 0.05);
    play(file, mrgAlbum, &gain);
    EXPECT_NEAR(gain, std::pow(10.0, -3.0 / 20), 1e-9);
    // +12 dB asked, a peak of 0.5 allows +6 dB.
    play(tagged("+12.00 dB", "+12.00 dB", "0.5"), mrgTrack, &gain);
    EXPECT_NEAR(gain, 2.0, 1e-9);
}

// Seeks in a trimmed file count music samples: 0 is the first music sample.
TEST(GaplessSeek, LandsOnMusicSamples) {
    if (!test::OnPath("lame")) GTEST_SKIP() << "lame is not installed (scripts/setup.sh installs it)";
    test::TempDir dir;
    const std::string file = test::LameFile(dir, "s.mp3", 3.0, "--cbr -b 128");
    ASSERT_FALSE(file.empty());
    std::vector<uint8_t> music;
    {
        TFileStream stream(file);
        DecodeAsPlayer(stream, nullptr, [&](const uint8_t* pcm, int32_t n) {
            music.insert(music.end(), pcm, pcm + n);
            return true;
        });
    }
    for (int64_t ms : {0, 1234}) {
        SCOPED_TRACE(ms);
        test::PlayerFixture f(50);
        TMP3Player& p = f.player;
        p.SetNoisySeek(false);
        p.SetFileName(file);
        p.Play();
        p.Pause();
        p.Seek(ms);
        EXPECT_EQ(p.Position(), ms);
        p.Resume();
        ASSERT_TRUE(test::PumpUntil(p, [&] { return !f.log.ends.empty(); }));
        std::vector<uint8_t> after;
        {
            std::lock_guard<std::mutex> lock(f.rec->mutex);
            after = f.rec->segments.at(f.rec->segments.size() - 2);  // the stop starts the last
        }
        const size_t from = static_cast<size_t>((ms * 44100 + 999) / 1000) * 4;
        ASSERT_EQ(after.size(), music.size() - from);
        // Past the fade-in the samples are those of continuous play.
        const size_t ramp = size_t{44100} * TSoundOut::kRampMs / 1000 * 4;
        EXPECT_TRUE(std::equal(after.begin() + static_cast<std::ptrdiff_t>(ramp), after.end(),
                               music.begin() + static_cast<std::ptrdiff_t>(from + ramp)));
    }
}

}  // namespace
}  // namespace wl
