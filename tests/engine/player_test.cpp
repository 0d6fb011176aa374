// TMP3Player with sped-up null, recording and WAV devices: the status machine
// and its events, the message queue rules, opening analysis (formats refused,
// VBR headers, CRC, where the first frame may lie), the frame walk (junk,
// truncation, refused frames), the equalizer model, errors on the worker
// threads, and that the PCM handed to the output is what `wl-decode --player`
// writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>

#include "decoder/decoder.h"
#include "engine/frame_walk.h"
#include "engine/message_queue.h"
#include "engine/mp3_player.h"
#include "engine/player_decode.h"
#include "tests/engine/player_support.h"
#include "tests/tag_builder.h"
#include "tools/decode_file.h"

namespace wl {
namespace {

using namespace std::chrono_literals;
using test::BuildFrames;
using test::EventLog;
using test::kFrameBytes;
using test::kPcmPerFrame;
using test::PumpUntil;

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

using Fixture = test::PlayerFixture;

std::string OpenError(const std::vector<uint8_t>& bytes) {
    Fixture f;
    try {
        f.Open(bytes);
    } catch (const std::exception& e) {
        EXPECT_FALSE(f.player.IsOpen());
        EXPECT_TRUE(f.player.FileName().empty()) << "a failed open closes the player";
        return e.what();
    }
    return "opened";
}

// ------------------------------------------------------------ message queue

TEST(MessageQueueTest, PostOnceSkipsPendingAndRemovePendingCoalesces) {
    std::vector<uint32_t> seen;
    TMessageQueue* self = nullptr;
    TMessageQueue q([&](TMessage& m) {
        seen.push_back(m.Msg);
        if (m.Msg == 1) self->RemovePending(1);
    });
    self = &q;
    int wakes = 0;
    q.SetWakeCallback([&] { ++wakes; });
    EXPECT_TRUE(q.PostOnce(2));
    EXPECT_FALSE(q.PostOnce(2)) << "one is pending already";
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(q.Post(1));
    EXPECT_TRUE(q.Post(3));
    EXPECT_EQ(wakes, 7);
    EXPECT_TRUE(q.Pending(1));
    EXPECT_EQ(q.ProcessMessages(), 3u);
    EXPECT_EQ(seen, (std::vector<uint32_t>{2, 1, 3}));
    EXPECT_TRUE(q.PostOnce(2)) << "handled messages are no longer pending";
}

TEST(MessageQueueTest, WaitForMessageWakesOnAPostFromAnotherThreadAndClosedQueueRefuses) {
    TMessageQueue q([](TMessage&) {});
    EXPECT_FALSE(q.WaitForMessage(20));
    std::thread t([&] {
        std::this_thread::sleep_for(20ms);
        q.Post(7);
    });
    EXPECT_TRUE(q.WaitForMessage(10000));
    t.join();
    auto rest = q.Close();
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest.front().Msg, 7u);
    EXPECT_FALSE(q.Post(8));
    EXPECT_EQ(q.Count(), 0u);
}

// ------------------------------------------------------------ status machine

TEST(PlayerStatusTest, TransitionsAndOneEndPlayPerEnd) {
    Fixture f;
    TMP3Player& p = f.player;
    EXPECT_FALSE(p.IsOpen());
    p.Play();  // nothing open: ignored
    EXPECT_EQ(p.Status(), mpsStopped);
    f.Open(BuildFrames(400, false));  // about 10 s
    ASSERT_TRUE(p.IsOpen());
    EXPECT_EQ(p.Status(), mpsStopped);
    p.Pause();
    p.Resume();
    EXPECT_EQ(p.Status(), mpsStopped) << "Pause and Resume act only from their states";

    p.Play();
    EXPECT_EQ(p.Status(), mpsPlaying);
    p.Resume();
    EXPECT_EQ(p.Status(), mpsPlaying);
    p.Pause();
    EXPECT_EQ(p.Status(), mpsPaused);
    p.Play();
    EXPECT_EQ(p.Status(), mpsPaused) << "Play acts only from stopped";
    p.Resume();
    EXPECT_EQ(p.Status(), mpsPlaying);
    p.Stop();
    p.Stop();
    EXPECT_EQ(p.Status(), mpsStopped);
    test::PumpFor(p, 100ms);
    ASSERT_EQ(f.log.ends.size(), 1u) << "two Stops in a row, one OnEndPlay";
    EXPECT_EQ(f.log.ends[0], mepStopped);
    EXPECT_GE(f.log.statusChanges, 1);
    EXPECT_EQ(p.Position(), 0);

    // Close while playing: one more end, reason stopped, player closed.
    p.Play();
    test::PumpFor(p, 50ms);
    p.Close();
    test::PumpFor(p, 50ms);
    ASSERT_EQ(f.log.ends.size(), 2u);
    EXPECT_EQ(f.log.ends[1], mepStopped);
    EXPECT_FALSE(p.IsOpen());
    EXPECT_TRUE(p.FileName().empty());
    EXPECT_EQ(p.SampleRate(), 0);
    EXPECT_EQ(p.Length(), 0);
}

TEST(PlayerStatusTest, EndOfStreamEndsOnceAndPlayingAgainStartsFromTheTop) {
    Fixture f;
    f.Open(BuildFrames(80, true));  // about 2 s
    ASSERT_TRUE(f.PlayToEnd());
    test::PumpFor(f.player, 50ms);
    ASSERT_EQ(f.log.ends.size(), 1u);
    EXPECT_EQ(f.log.ends[0], mepEndOfStream);
    EXPECT_EQ(f.player.Status(), mpsStopped);
    EXPECT_EQ(f.rec->All().size(), size_t{80} * kPcmPerFrame) << "every frame reached the output";

    ASSERT_TRUE(f.PlayToEnd());
    ASSERT_EQ(f.log.ends.size(), 2u);
    EXPECT_EQ(f.log.ends[1], mepEndOfStream);
    const auto all = f.rec->All();
    ASSERT_EQ(all.size(), size_t{160} * kPcmPerFrame);
    EXPECT_TRUE(std::equal(all.begin(), all.begin() + all.size() / 2, all.begin() + all.size() / 2))
        << "the second play repeats the first exactly (the decoder is set up afresh)";
}

TEST(PlayerStatusTest, ChangePositionNotificationsCoalesce) {
    Fixture f;
    f.Open(BuildFrames(40, false));
    test::PumpFor(f.player, 20ms);
    f.log.positionChanges = 0;
    for (int i = 0; i < 50; ++i) f.player.Messages().Post(MPM_CHANGEPOSITION);
    f.player.Messages().ProcessMessages();
    EXPECT_EQ(f.log.positionChanges, 1);

    // While playing, the output's progress keeps them coming.
    f.player.SetChangePosStep(100);
    f.player.Play();
    test::PumpFor(f.player, 300ms);
    EXPECT_GE(f.log.positionChanges, 2);
    f.player.Stop();
}

// Pausing while the end of the stream drains and stopping then must not hang;
// a seek from that state plays on.
TEST(PlayerStatusTest, PauseDuringTheFinalDrainThenStopOrSeekDoesNotHang) {
    test::TempDir dir;
    const std::string path = test::WriteBytes(dir, "short.mp3", BuildFrames(30, false));  // 0.8 s
    TMP3Player p(test::NullFactory(1));  // real time: the drain lasts 0.8 s
    EventLog log;
    log.Attach(p);
    p.SetAutoPlay(false);
    p.SetFileName(path);
    for (int round = 0; round < 2; ++round) {
        p.Play();
        test::PumpFor(p, 150ms);  // decoded everything, now draining
        p.Pause();
        std::this_thread::sleep_for(1500ms);  // a paused device never drains
        EXPECT_EQ(p.Status(), mpsPaused);
        {
            test::Watchdog dog(20s, round == 0 ? "Stop during the drain" : "Seek during the drain");
            if (round == 0) {
                p.Stop();
            } else {
                p.Seek(0);
                EXPECT_EQ(p.Status(), mpsPaused);
                p.Resume();
                ASSERT_TRUE(PumpUntil(p, [&] { return log.ends.size() == 2; }));
            }
        }
        test::PumpFor(p, 50ms);
    }
    ASSERT_EQ(log.ends.size(), 2u);
    EXPECT_EQ(log.ends[0], mepStopped);
    EXPECT_EQ(log.ends[1], mepEndOfStream) << "after the seek the file played to its end";
}

// A device that fails while playing: the decoding thread's error reaches the
// host as a shown exception and ends playback with mepError.
TEST(PlayerStatusTest, AWorkerErrorIsShownOnTheHostAndEndsWithError) {
    std::vector<std::string> shown;
    std::thread::id shownOn;
    SetShowExceptionHandler([&](const std::exception& e) {
        shown.push_back(e.what());
        shownOn = std::this_thread::get_id();
    });
    {
        Fixture f;
        f.rec->failWritesAfter = 2;
        f.Open(BuildFrames(200, false));
        f.player.Play();
        ASSERT_TRUE(PumpUntil(f.player, [&] { return !f.log.ends.empty(); }));
        EXPECT_EQ(f.log.ends[0], mepError);
        EXPECT_EQ(f.player.Status(), mpsStopped);
    }
    SetShowExceptionHandler(nullptr);
    ASSERT_FALSE(shown.empty());
    EXPECT_NE(shown[0].find("the test device refuses more data(TSoundOut.WaveWrite)"), std::string::npos)
        << shown[0];
    EXPECT_EQ(shownOn, std::this_thread::get_id()) << "shown on the host's thread";
}

TEST(PlayerStatusTest, APlayThatCannotOpenTheDeviceFailsAndStaysStopped) {
    test::TempDir dir;
    TMP3Player p("wav:" + dir.File("no/such/folder/out.wav"));
    p.SetAutoPlay(false);
    p.SetFileName(test::WriteBytes(dir, "a.mp3", BuildFrames(10, false)));
    EXPECT_THROW(p.Play(), EMP3Error);
    EXPECT_EQ(p.Status(), mpsStopped);
    EXPECT_TRUE(p.IsOpen());
}

// ------------------------------------------------------------ opening

TEST(PlayerOpenTest, RefusesWhatIsNotPlayableMpegAudio) {
    const std::string unknown = "unknown MPEG Audio format.";
    const std::string text = "This is not an MPEG audio file, only some words.\n";
    std::vector<uint8_t> words;
    for (int i = 0; i < 200; ++i) words.insert(words.end(), text.begin(), text.end());
    EXPECT_EQ(OpenError(words), unknown);
    EXPECT_EQ(OpenError({}), unknown) << "empty file";

    // Free format: bitrate index 0.
    std::vector<uint8_t> free = BuildFrames(20, false);
    for (size_t i = 0; i < free.size(); i += kFrameBytes) free[i + 2] &= 0x0F;
    EXPECT_EQ(OpenError(free), unknown);


    Fixture f;
    EXPECT_THROW(f.player.SetFileName(f.dir.File("missing.mp3")), EMP3Error);
}

TEST(PlayerOpenTest, FindsTheFirstFrameAfterJunkAndTags) {
    Fixture f;
    f.Open(Concat({std::vector<uint8_t>(10000, 0), BuildFrames(20, false)}));
    EXPECT_TRUE(f.player.IsOpen());
    EXPECT_EQ(f.player.Layer(), 3);
    EXPECT_EQ(f.player.Version(), 1);
    EXPECT_EQ(f.player.SampleRate(), 44100);
    EXPECT_EQ(f.player.Channels(), 2);
    EXPECT_EQ(f.player.Bitrate(), 128000);
    EXPECT_EQ(f.player.Length(), int64_t{20} * kFrameBytes * 8 * 1000 / 128000);
    ASSERT_TRUE(f.PlayToEnd());
    EXPECT_EQ(f.rec->All().size(), size_t{20} * kPcmPerFrame);
}

// A first sync candidate that is no frame header does not fail a playable file.
TEST(PlayerOpenTest, SearchesOnPastAFalseFirstSyncCandidate) {
    Fixture f;
    const std::vector<uint8_t> falseSync = {0x00, 0xFF, 0xFB, 0xF0, 0x00, 0x11};  // bitrate index 15
    f.Open(Concat({falseSync, BuildFrames(20, false)}));
    ASSERT_TRUE(f.player.IsOpen());
    EXPECT_EQ(f.player.Bitrate(), 128000);
    ASSERT_TRUE(f.PlayToEnd());
    EXPECT_EQ(f.log.ends.back(), mepEndOfStream);
    EXPECT_EQ(f.rec->All().size(), size_t{20} * kPcmPerFrame);

    // A lone plausible header whose successor does not match is passed over too.
    std::vector<uint8_t> lone = BuildFrames(1, false);
    lone.resize(100);
    lone[1] = 0xFA;
    Fixture g;
    g.Open(Concat({std::vector<uint8_t>{0xFF, 0xFB, 0xF0, 0x00}, lone, BuildFrames(10, false)}));
    EXPECT_EQ(g.player.Bitrate(), 128000);
    ASSERT_TRUE(g.PlayToEnd());
    EXPECT_EQ(g.rec->All().size(), size_t{10} * kPcmPerFrame);
}

// The header's frame count is the audio frames after the header frame, which
// is never played, "Info" (constant bitrate) as well as "Xing" and "VBRI".
TEST(PlayerOpenTest, XingInfoAndVbriHeadersGiveTheLength) {
    const int64_t msPer40Frames = int64_t{40} * kPcmPerFrame * 1000 / (44100 * 4);
    struct Case {
        const char* what;
        std::vector<uint8_t> frame;
        int64_t length;  // ms
    };
    const std::vector<Case> cases = {
        {"Xing frames and bytes", test::VbrFrame("Xing", 36, {{4, 3}, {8, 40}, {12, 500000}}), msPer40Frames},
        {"Xing frame count 1", test::VbrFrame("Xing", 36, {{4, 3}, {8, 1}, {12, 500000}}),
         int64_t{kPcmPerFrame} * 1000 / (44100 * 4)},
        {"Xing bytes only", test::VbrFrame("Xing", 36, {{4, 2}, {8, 500000}}), 0},
        {"Xing frame count the stream cannot hold", test::VbrFrame("Xing", 36, {{4, 1}, {8, 100000}}), 0},
        {"Xing byte count too small", test::VbrFrame("Xing", 36, {{4, 3}, {8, 40}, {12, 2000}}), msPer40Frames},
        {"VBRI", test::VbrFrame("VBRI", 36, {{10, 500000}, {14, 40}}), msPer40Frames},
        {"VBRI byte count too small", test::VbrFrame("VBRI", 36, {{10, 2000}, {14, 40}}), msPer40Frames},
        {"VBRI 32 bytes after the header of a CRC frame", test::VbrFrame("VBRI", 36, {{10, 500000}, {14, 40}}, true),
         msPer40Frames},
        {"Info", test::VbrFrame("Info", 36, {{4, 3}, {8, 40}}), msPer40Frames},
        {"Xing after a CRC", test::VbrFrame("Xing", 38, {{4, 1}, {8, 40}}, true), msPer40Frames},
        {"Xing where it stands without the CRC", test::VbrFrame("Xing", 36, {{4, 1}, {8, 40}}, true),
         msPer40Frames},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        f.Open(Concat({c.frame, BuildFrames(40, false)}));
        const bool vbr = std::string(c.what).find("Info") == std::string::npos;
        EXPECT_EQ(f.player.Bitrate(), vbr ? 0 : 128000);
        EXPECT_EQ(f.player.Length(), c.length);
        ASSERT_TRUE(f.PlayToEnd());
        EXPECT_EQ(f.rec->All().size(), size_t{40} * kPcmPerFrame)
            << "the header frame is not played, every frame after it is";
    }
}

TEST(PlayerOpenTest, CrcProtectedStreamsPlay) {
    std::vector<uint8_t> frames = BuildFrames(30, true);
    for (size_t i = 0; i < frames.size(); i += kFrameBytes) frames[i + 1] = 0xFA;
    Fixture f;
    f.Open(frames);
    EXPECT_EQ(f.player.Bitrate(), 128000);
    ASSERT_TRUE(f.PlayToEnd());
    EXPECT_EQ(f.rec->All().size(), size_t{30} * kPcmPerFrame);

    test::TempDir dir;
    const std::string lame = test::LameFile(dir, "crc.mp3", 2.0, "-p -b 128");
    if (lame.empty()) GTEST_SKIP() << "lame is not installed: no encoder-made CRC file";
    Fixture g;
    g.player.SetFileName(lame);
    EXPECT_GT(g.player.Length(), 1900);
    EXPECT_LT(g.player.Length(), 2200);
    ASSERT_TRUE(g.PlayToEnd());
    EXPECT_EQ(g.log.ends.back(), mepEndOfStream);
}

// ------------------------------------------------------------ frame walk

TEST(PlayerWalkTest, GarbageMidStreamIsSkippedUpTo4096Bytes) {
    Fixture f;
    f.Open(Concat({BuildFrames(20, true, 1), test::Garbage(3000), BuildFrames(20, true, 2)}));
    ASSERT_TRUE(f.PlayToEnd());
    EXPECT_EQ(f.log.ends.back(), mepEndOfStream);
    EXPECT_EQ(f.rec->All().size(), size_t{40} * kPcmPerFrame) << "both halves played";

    Fixture g;
    g.Open(Concat({BuildFrames(20, true, 1), test::Garbage(5000), BuildFrames(20, true, 2)}));
    ASSERT_TRUE(g.PlayToEnd());
    EXPECT_EQ(g.log.ends.back(), mepEndOfStream);
    EXPECT_EQ(g.rec->All().size(), size_t{20} * kPcmPerFrame) << "more junk than 4096 bytes ends the audio";
}

TEST(PlayerWalkTest, ATruncatedLastFrameEndsTheStream) {
    std::vector<uint8_t> bytes = BuildFrames(25, true);
    bytes.resize(bytes.size() - 200);
    Fixture f;
    f.Open(bytes);
    ASSERT_TRUE(f.PlayToEnd());
    ASSERT_EQ(f.log.ends.size(), 1u);
    EXPECT_EQ(f.log.ends[0], mepEndOfStream);
    EXPECT_EQ(f.rec->All().size(), size_t{24} * kPcmPerFrame);
}

// The player decodes the whole band (the band limit alone would drop the top
// subband of this 22050 Hz stream), and the frame walk of `DecodeAsPlayer` is
// the one the decoding thread runs.
TEST(PlayerWalkTest, LowerRateStreamsAreDecodedInFullBand) {
    std::mt19937 rng(11);
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 60; ++i) {
        auto fr = test::RandomFrameLsf(rng, 0, false);
        bytes.insert(bytes.end(), fr.begin(), fr.end());
    }
    std::vector<int16_t> full, limited;
    tools::DecodeOptions fullBand;
    fullBand.followChannelChanges = false;
    tools::DecodeOptions bandLimited = fullBand;
    bandLimited.fullBand = false;
    ASSERT_TRUE(tools::DecodeToPcm(bytes, fullBand, full).ok);
    ASSERT_TRUE(tools::DecodeToPcm(bytes, bandLimited, limited).ok);
    ASSERT_NE(full, limited) << "the stream must have content in the top subband";

    Fixture f;
    f.Open(bytes);
    EXPECT_EQ(f.player.Version(), 2);
    EXPECT_EQ(f.player.SampleRate(), 22050);
    ASSERT_TRUE(f.PlayToEnd());
    EXPECT_EQ(test::BytesToPcm16(f.rec->All()), full);

    TMemoryStream stream(bytes);
    std::vector<uint8_t> walked;
    DecodeAsPlayer(stream, nullptr, [&](const uint8_t* pcm, int32_t n) {
        walked.insert(walked.end(), pcm, pcm + n);
        return true;
    });
    EXPECT_EQ(walked, f.rec->All());
}

// At unity (no ReplayGain; the equalizer off, or on with every band at 0 dB
// in either mode) what goes through the WAV device equals `wl-decode
// --player` byte for byte, also on a loud file whose peaks reach full scale.
TEST(PlayerWalkTest, WavDeviceOutputEqualsWlDecodePlayerAtUnity) {
    test::TempDir dir;
    std::vector<std::string> files;
    files.push_back(test::WriteBytes(
        dir, "built.mp3",
        Concat({test::VbrFrame("Xing", 36, {{4, 1}, {8, 61}}), BuildFrames(20, true, 4), test::Garbage(700),
                BuildFrames(40, true, 5)})));
    const std::string lame = test::LameFile(dir, "lame.mp3", 3.0, "-V 4 --add-id3v2 --tt Song");
    if (!lame.empty()) files.push_back(lame);
    const std::string loud = test::LoudLameFile(dir, "loud.mp3", 2.0);
    if (!loud.empty()) files.push_back(loud);
    enum class Eq { Off, FlatSubbands, FlatTenBands };
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const std::string raw = dir.File("decoded.raw");
        const test::CommandResult r = test::RunCommand(test::ShellQuote(test::DecodeBinary()) + " --player " +
                                                       test::ShellQuote(file) + " " + test::ShellQuote(raw));
        ASSERT_EQ(r.exitCode, 0);
        const std::vector<uint8_t> expected = test::ReadFileBytes(raw);
        ASSERT_FALSE(expected.empty());
        if (file == loud) {
            const std::vector<int16_t> pcm = test::BytesToPcm16(expected);
            // Above -1 dBFS, where a limiter at unity would act.
            EXPECT_GT(std::count_if(pcm.begin(), pcm.end(), [](int16_t v) { return std::abs(v) > 29205; }), 5000)
                << "the loud file is not loud";
        }
        for (Eq eq : {Eq::Off, Eq::FlatSubbands, Eq::FlatTenBands}) {
            SCOPED_TRACE(static_cast<int>(eq));
            const std::string wav = dir.File("played.wav");
            {
                TMP3Player p([wav] { return CreateWavAudioDevice(wav, 40); });
                EventLog log;
                log.Attach(p);
                p.SetAutoPlay(false);
                if (eq == Eq::FlatTenBands) {
                    p.SetEqualizerMode(memFreq);
                    p.SetEqualizerCount(10);
                    p.SetEqualizerFrequencies(60, 16000);
                }
                p.SetEqualizerEnabled(eq != Eq::Off);
                p.SetFileName(file);
                p.Play();
                ASSERT_TRUE(PumpUntil(p, [&] { return !log.ends.empty(); }));
                EXPECT_EQ(log.ends[0], mepEndOfStream);
                EXPECT_EQ(p.Output()->Gain(), 1.0);
            }
            const std::vector<uint8_t> played = test::WavData(wav);
            EXPECT_EQ(played.size(), expected.size());
            EXPECT_TRUE(played == expected) << "the PCM differs";
        }
    }
    if (lame.empty()) GTEST_SKIP() << "lame is not installed: only the built stream was compared";
}

TEST(PlayerWalkTest, WlDecodePlayerRefusesWhatThePlayerRefuses) {
    test::TempDir dir;
    const std::string junk = test::WriteBytes(dir, "junk.bin", test::Garbage(5000));
    const test::CommandResult r = test::RunCommand(test::ShellQuote(test::DecodeBinary()) + " --player " +
                                                   test::ShellQuote(junk) + " " + dir.File("o.raw") + " 2>&1");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("unknown MPEG Audio format."), std::string::npos) << r.output;
}

// ------------------------------------------------------------ properties

TEST(PlayerPropertiesTest, DefaultsRangesAndTitleFallback) {
    Fixture f;
    TMP3Player& p = f.player;
    EXPECT_TRUE(p.AutoOpen());
    EXPECT_EQ(p.ChangePosStep(), 400);
    EXPECT_EQ(p.EqualizerCount(), 6);
    EXPECT_EQ(p.EqualizerMode(), memSubBand);
    EXPECT_FALSE(p.EqualizerEnabled());
    EXPECT_TRUE(p.NoisySeek());
    EXPECT_EQ(p.NeedInfoType(), (TMP3InfoType{mitID3V1, mitID3V2, mitRiff}));
    p.SetChangePosStep(99);
    EXPECT_EQ(p.ChangePosStep(), 400);
    p.SetVolume(101);
    p.SetVolume(-1);
    EXPECT_EQ(p.Volume(), 100);
    p.SetVolume(0);
    EXPECT_EQ(p.Volume(), 0) << "0 set at run time silences";
    p.SetVolBalance(-101);
    p.SetVolBalance(40);
    EXPECT_EQ(p.VolBalance(), 40);
    p.SetEqualizerCount(0);
    EXPECT_EQ(p.EqualizerCount(), 6);

    // The capability set keeps only what the processor has; members map to
    // their capability-word bits.
    p.SetUsingCpuCapabilities(TMP3CpuCapabilities::All());
    EXPECT_EQ(p.UsingCpuCapabilities(), TMP3CpuCapabilities::FromCapabilityWord(GetCpuFeatures()));
    EXPECT_EQ((TMP3CpuCapabilities{mccE3DNow}.CapabilityWord()), uint32_t{cfE3DNow});
    EXPECT_EQ((TMP3CpuCapabilities{mccCMOV}.CapabilityWord()), uint32_t{cfCMOV});
    EXPECT_EQ((TMP3CpuCapabilities{mccKNI}.CapabilityWord()), uint32_t{cfSSE});

    p.SetInvertPolarity(true);
    EXPECT_TRUE(p.InvertPolarity());
    p.SetInvertPolarity(false);
    EXPECT_FALSE(p.InvertPolarity());

    f.Open(BuildFrames(10, false), "Some Song.mp3");
    EXPECT_EQ(p.Title(), "Some Song.mp3");
    std::vector<uint8_t> tagged = BuildFrames(10, false);
    std::vector<uint8_t> tag(128, 0);
    std::memcpy(tag.data(), "TAG", 3);
    std::memcpy(tag.data() + 3, "Tagged Title", 12);
    std::memcpy(tag.data() + 33, "An Artist", 9);
    tagged.insert(tagged.end(), tag.begin(), tag.end());
    f.Open(tagged, "other.mp3");
    EXPECT_EQ(p.Title(), "Tagged Title");
    EXPECT_EQ(p.Artist(), "An Artist");
    // The audio is taken to run to the end of the file (the walk passes the tag as junk).
    EXPECT_EQ(p.Length(), int64_t{10 * kFrameBytes + 128} * 8 * 1000 / 128000);

    p.SetFileName("");  // AutoOpen: opening nothing closes
    EXPECT_FALSE(p.IsOpen());
}

TEST(PlayerPropertiesTest, LoadingTakesTheDeviceVolumeAndSpreadsTheBands) {
    TMP3Player p(test::NullFactory());
    p.BeginLoad();
    p.SetEqualizerMode(memFreq);
    p.SetEqualizerCount(10);
    p.SetVolume(0);
    EXPECT_EQ(p.Volume(), 100) << "the null device reports full volume";
    p.Loaded();
    const int expected[10] = {60, 112, 208, 387, 720, 1339, 2490, 4629, 8606, 16000};
    for (int b = 0; b < 10; ++b) EXPECT_EQ(p.EqualizerFrequency(b), expected[b]) << b;
}

TEST(PlayerEqualizerTest, BandModelAndItsLimits) {
    TMP3Player p(test::NullFactory());
    for (int b = 0; b < 32; ++b) EXPECT_EQ(p.EqualizerFrequency(b), 0) << "memSubBand without a file";
    p.SetEqualizerValue(3, 101);
    p.SetEqualizerValue(3, -101);
    EXPECT_EQ(p.EqualizerValue(3), 0);
    p.SetEqualizerValue(3, -100);
    EXPECT_EQ(p.EqualizerValue(3), -100);
    p.SetEqualizerValue(32, 50);  // no such band
    p.SetEqualizerValue(-1, 50);
    EXPECT_EQ(p.EqualizerValue(32), 0);

    p.SetEqualizerFrequencies(60, 16000);  // memSubBand: ignored
    EXPECT_EQ(p.EqualizerFrequency(0), 0);
    p.SetEqualizerMode(memFreq);
    p.SetEqualizerCount(1);
    p.SetEqualizerFrequencies(100, 200);
    EXPECT_EQ(p.EqualizerFrequency(0), 200);
    p.SetEqualizerCount(2);
    p.SetEqualizerFrequencies(100, 200);
    EXPECT_EQ(p.EqualizerFrequency(0), 100);
    EXPECT_EQ(p.EqualizerFrequency(1), 200);
    p.SetEqualizerFrequencies(0, 200);
    p.SetEqualizerFrequencies(300, 200);
    p.SetEqualizerFrequencies(100, 24001);
    EXPECT_EQ(p.EqualizerFrequency(0), 100) << "out-of-range limits change nothing";

    // More bands than the tables hold: the 32 that exist span the range.
    p.SetEqualizerCount(40);
    EXPECT_EQ(p.EqualizerCount(), 40);
    p.SetEqualizerFrequencies(20, 20000);
    EXPECT_EQ(p.EqualizerFrequency(0), 20);
    EXPECT_EQ(p.EqualizerFrequency(31), 20000);
    EXPECT_EQ(p.EqualizerFrequency(32), 0);
    for (int b = 1; b < 32; ++b) EXPECT_GT(p.EqualizerFrequency(b), p.EqualizerFrequency(b - 1)) << b;
}

// The decoder's tables follow the bands: nearest band per line (Layer III
// memFreq), per subband in memSubBand; updates made while playing land whole.
TEST(PlayerEqualizerTest, TablesFollowTheBandsAndUpdatesNeverTear) {
    Fixture f(10);
    TMP3Player& p = f.player;
    f.Open(BuildFrames(1500, true), "eq.mp3");
    p.SetEqualizerMode(memFreq);
    p.SetEqualizerCount(10);
    p.SetEqualizerFrequencies(60, 16000);
    const auto setBands = [&](bool rising) {
        for (int b = 0; b < 10; ++b) p.SetEqualizerValue(b, rising ? b * 10 - 50 : 40 - b * 10);
        p.Messages().ProcessMessages();
    };
    setBands(true);
    p.SetEqualizerEnabled(true);
    p.Messages().ProcessMessages();
    DecoderState& d = p.Decoder();
    EXPECT_EQ(*LineEqEnabled(d), 1);
    EXPECT_EQ(*SubbandEqEnabled(d), 0);
    // Line 0 is at 19 Hz (band 0, 60 Hz); line 575 at 22030 Hz (band 9, 16000 Hz);
    // line 13 at 517 Hz: 517/387 = 1.34 beats 720/517 = 1.39 (band 3). The
    // largest boost (band 9, +8 dB) leaves the tables for the output stage.
    EXPECT_FLOAT_EQ(LineGain(d)[0], std::pow(10.0f, -0.9f));
    EXPECT_FLOAT_EQ(LineGain(d)[575], 1.0f);
    EXPECT_FLOAT_EQ(LineGain(d)[13], std::pow(10.0f, -0.6f));
    EXPECT_FLOAT_EQ(static_cast<float>(p.Output()->Gain()), std::pow(10.0f, 0.4f));
    const std::vector<float> rising(LineGain(d), LineGain(d) + 576);
    setBands(false);
    const std::vector<float> falling(LineGain(d), LineGain(d) + 576);
    ASSERT_NE(rising, falling);

    // Flip between the two settings while it plays. The decoding thread hands
    // the device its buffers under the lock it decodes with; there the table
    // it uses must be one setting whole, never a mix of the two.
    const std::thread::id host = std::this_thread::get_id();
    std::atomic<int> sawRising{0}, sawFalling{0}, torn{0};
    f.rec->onWrite = [&] {
        if (std::this_thread::get_id() == host) return;  // the fade-out of a restart
        const float* table = LineGain(d);
        if (std::equal(rising.begin(), rising.end(), table)) {
            ++sawRising;
        } else if (std::equal(falling.begin(), falling.end(), table)) {
            ++sawFalling;
        } else {
            ++torn;
        }
    };
    p.Play();
    bool next = true;
    EXPECT_TRUE(test::WaitUntil([&] { return sawRising >= 20 && sawFalling >= 20; }, 20s, [&] {
        setBands(next);
        next = !next;
        // Room for the decoding thread to hand over a buffer before the next flip.
        const int before = sawRising + sawFalling + torn;
        test::WaitUntil([&] { return sawRising + sawFalling + torn > before; }, 20ms);
    })) << "the decoding thread handed over " << sawRising << " and " << sawFalling << " buffers";
    p.Stop();
    f.rec->onWrite = nullptr;
    EXPECT_EQ(torn.load(), 0) << "buffers handed over with a table mixing two settings";
    EXPECT_EQ(std::vector<float>(LineGain(d), LineGain(d) + 576), next ? falling : rising) << "the last setting";
    EXPECT_FLOAT_EQ(static_cast<float>(p.Output()->Gain()), std::pow(10.0f, 0.4f));

    for (int b = 0; b < 10; ++b) p.SetEqualizerValue(b, 20);
    p.SetEqualizerMode(memSubBand);
    p.SetEqualizerValue(31, 100);
    p.Messages().ProcessMessages();
    EXPECT_EQ(*LineEqEnabled(d), 0);
    EXPECT_EQ(*SubbandEqEnabled(d), 1);
    EXPECT_FLOAT_EQ(SubbandGain(d)[31], 1.0f);
    EXPECT_FLOAT_EQ(SubbandGain(d)[0], 0.1f * std::pow(10.0f, 0.2f)) << "+4 dB below the +20 dB of band 31";
    EXPECT_FLOAT_EQ(static_cast<float>(p.Output()->Gain()), 10.0f);
    EXPECT_EQ(p.EqualizerFrequency(0), 345) << "44100 / 64 x 0.5 rounded";
    EXPECT_EQ(p.EqualizerFrequency(31), 21705);
    p.SetEqualizerEnabled(false);
    p.Messages().ProcessMessages();
    EXPECT_EQ(*SubbandEqEnabled(d), 0);
    EXPECT_EQ(p.Output()->Gain(), 1.0) << "no boost while the equalizer is off";
    for (int b = 0; b < 32; ++b) p.SetEqualizerValue(b, 0);
    p.Messages().ProcessMessages();
}

// ReplayGain in the output stage: 10^(dB/20), held to 1/peak while clipping
// is prevented; 0 dB (off) leaves the PCM bit-identical; it combines with the
// equalizer's boost.
TEST(PlayerReplayGainTest, GainFollowsTheTagAndPreventsClipping) {
    test::TempDir dir;
    const std::vector<uint8_t> bytes = BuildFrames(30, true, 3);
    const std::vector<uint8_t> tag = test::Id3v2TagBuilder(4)
                                         .UserText("replaygain_track_gain", "+6.00 dB")
                                         .UserText("replaygain_track_peak", "0.8")
                                         .Build();
    const std::string file = test::WriteBytes(dir, "rg.mp3", Concat({tag, bytes}));
    std::vector<uint8_t> expected;
    {
        TMemoryStream stream(bytes);
        DecodeAsPlayer(stream, nullptr, [&](const uint8_t* d, int32_t n) {
            expected.insert(expected.end(), d, d + n);
            return true;
        });
    }
    TMP3Player p(test::NullFactory(40));
    p.SetAutoPlay(false);
    p.SetFileName(file);
    EXPECT_EQ(p.AppliedGain(), 1.0);
    p.SetReplayGain(mrgTrack, 0, true);
    EXPECT_NEAR(p.AppliedGain(), 1.25, 1e-12) << "held to 1/peak";
    EXPECT_NEAR(p.Output()->Gain(), 1.25, 1e-12);
    p.SetReplayGain(mrgTrack, 0, false);
    EXPECT_NEAR(p.AppliedGain(), 1.995262, 1e-6);
    p.SetReplayGain(mrgTrack, -12.5, false);
    EXPECT_NEAR(p.AppliedGain(), 1.995262, 1e-6) << "a pre-amp beyond -12 dB is refused";
    p.SetEqualizerEnabled(true);
    p.SetEqualizerValue(0, 30);  // +6 dB on one band: taken out of the tables
    p.Messages().ProcessMessages();
    EXPECT_NEAR(p.Output()->Gain(), 1.995262 * 1.995262, 1e-5);
    p.SetEqualizerEnabled(false);
    p.Messages().ProcessMessages();
    EXPECT_NEAR(p.Output()->Gain(), 1.995262, 1e-6);

    // Off: the output equals the plain decode.
    p.SetReplayGain(mrgOff, 0, true);
    EXPECT_EQ(p.Output()->Gain(), 1.0);
    const std::string wav = dir.File("out.wav");
    p.SetOutputDevice("wav:" + wav);
    EventLog log;
    log.Attach(p);
    p.Play();
    ASSERT_TRUE(PumpUntil(p, [&] { return !log.ends.empty(); }));
    EXPECT_TRUE(test::WavData(wav) == expected);
    // And a tag of -6.02 dB halves it, near enough.
    const std::vector<uint8_t> halfTag =
        test::Id3v2TagBuilder(3).UserText("REPLAYGAIN_TRACK_GAIN", "-6.0205999 dB").Build();
    p.SetReplayGain(mrgTrack, 0, false);
    p.SetFileName(test::WriteBytes(dir, "half.mp3", Concat({halfTag, bytes})));
    log.ends.clear();
    p.Play();
    ASSERT_TRUE(PumpUntil(p, [&] { return !log.ends.empty(); }));
    // The output's WAV file holds both plays, one after the other.
    const std::vector<uint8_t> both = test::WavData(wav);
    ASSERT_EQ(both.size(), 2 * expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), both.begin())) << "the first play was kept";
    const std::vector<int16_t> half = test::BytesToPcm16(std::span(both).subspan(expected.size())),
                               full = test::BytesToPcm16(expected);
    ASSERT_EQ(half.size(), full.size());
    for (size_t i = 0; i < full.size(); ++i) ASSERT_LE(std::abs(half[i] * 2 - full[i]), 1) << i;
}

// +12 dB of equalizer boost (all of it given to the output stage) on a loud
// file: the limiter keeps every sample below full scale, its gain moves by
// small steps, no sample is added or lost, and once it has let go, quiet
// passages come out as exactly the gain times the decoded sample, rounded.
TEST(PlayerOutputStageTest, ABoostIsLimitedSmoothlyAndLeavesQuietPassagesExact) {
    test::TempDir dir;
    // Loud, 30 dB down from 1.5 s to 3.5 s, loud again.
    const std::string file = test::LoudLameFile(dir, "loud.mp3", 4.5, 1.5, 3.5);
    if (file.empty()) GTEST_SKIP() << "lame is not installed";
    std::vector<uint8_t> decoded;
    {
        TFileStream stream(file);
        DecodeAsPlayer(stream, nullptr, [&](const uint8_t* d, int32_t n) {
            decoded.insert(decoded.end(), d, d + n);
            return true;
        });
    }
    const std::string wav = dir.File("boosted.wav");
    TMP3Player p([wav] { return CreateWavAudioDevice(wav, 40); });
    EventLog log;
    log.Attach(p);
    p.SetAutoPlay(false);
    for (int32_t b = 0; b < TMP3Player::kBandCount; ++b) p.SetEqualizerValue(b, 60);
    p.SetEqualizerEnabled(true);
    p.SetFileName(file);
    p.Play();
    const double gain = p.Output()->Gain();
    ASSERT_NEAR(gain, std::pow(10.0, 0.6), 1e-12);
    ASSERT_TRUE(PumpUntil(p, [&] { return !log.ends.empty(); }));
    EXPECT_EQ(log.ends[0], mepEndOfStream);

    const std::vector<int16_t> in = test::BytesToPcm16(decoded), out = test::BytesToPcm16(test::WavData(wav));
    ASSERT_EQ(out.size(), in.size()) << "samples added or lost";
    size_t over = 0;
    int32_t peak = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        if (gain * std::abs(in[i]) > 32767) ++over;
        peak = std::max(peak, std::abs(int32_t{out[i]}));
    }
    EXPECT_GT(over, 10000u) << "too little to limit";
    EXPECT_LE(peak, TLimiter::kCeiling) << "a peak at full scale";

    // The gain applied, read off the larger sample of each frame where it is
    // large enough to tell: neighbouring frames differ by under 1 %.
    double step = 0, previous = -1;
    size_t at = 0;
    for (size_t f = 0; f + 1 < in.size(); f += 2) {
        const size_t i = std::abs(in[f]) >= std::abs(in[f + 1]) ? f : f + 1;
        if (gain * std::abs(in[i]) < 4000) {
            previous = -1;
            continue;
        }
        const double g = out[i] / (gain * in[i]);
        if (previous >= 0 && std::fabs(g - previous) > step) {
            step = std::fabs(g - previous);
            at = f / 2;
        }
        previous = g;
    }
    EXPECT_LT(step, 0.01) << "a jump in the gain at frame " << at;

    // The quiet passage, from well after the loud part to just before the next.
    size_t differ = 0;
    for (size_t i = size_t{44100} * 26 / 10 * 2; i < size_t{44100} * 34 / 10 * 2; ++i)
        if (out[i] != std::lrint(gain * in[i])) ++differ;
    EXPECT_EQ(differ, 0u) << "the limiter still acts on the quiet passage";
}

}  // namespace
}  // namespace wl
