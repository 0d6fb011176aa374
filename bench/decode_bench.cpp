// DecodeFrame throughput per stream kind, and the whole-file walk.
//
// Inputs are made at start-up with lame and twolame when they are installed (a
// synthesized signal encoded four ways each), and compliance streams of all
// layers are added from the shared folder ($WL_SHARED_DIR or ../shared) when
// present.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "decoder/cpu_features.h"
#include "decoder/decoder.h"
#include "decoder/frame_header.h"
#include "engine/frame_walk.h"
#include "engine/stream_open.h"
#include "info/mp3_info.h"
#include "tools/decode_file.h"

#ifndef WL_SHARED_DIR
#define WL_SHARED_DIR ""
#endif

namespace {
namespace fs = std::filesystem;

struct Input {
    std::string name;
    std::vector<uint8_t> bytes;  // zero-padded behind the data
    size_t size = 0;
    wl::TMPEGFrameHeader first{};
    int32_t firstLength = 0;
    std::vector<std::pair<size_t, size_t>> frames;  // offset, size
    int32_t samplesPerFrame = 0;
    int32_t sampleRate = 0;
};

bool OnPath(const std::string& program) {
    const std::string cmd = "command -v " + program + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

void WriteSignalWav(const std::string& path, int32_t rate, int32_t channels, double seconds) {
    const auto frames = static_cast<size_t>(rate * seconds);
    std::vector<uint8_t> bytes = wl::tools::MakeWavHeader(channels, rate, frames * channels * 2);
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 300.0);
    const double pi = 3.14159265358979323846;
    // A tune of changing notes with harmonics over a noise floor: not trivial to code.
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const int note = static_cast<int>(t * 4) % 8;
        const double f = 220.0 * std::pow(2.0, (note * 3 % 12) / 12.0);
        const double env = std::exp(-3.0 * std::fmod(t, 0.25));
        for (int32_t ch = 0; ch < channels; ++ch) {
            double v = 0;
            for (int k = 1; k <= 8; ++k) v += std::sin(2 * pi * f * k * t * (1 + 0.002 * ch)) / k;
            v = 9000 * env * v + noise(rng);
            const auto s = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
            bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s)));
            bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
        }
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
}

bool LoadInput(const std::string& name, const std::string& path, Input& in) {
    std::string error;
    if (!wl::tools::ReadWholeFile(path, in.bytes, error)) return false;
    in.name = name;
    in.size = in.bytes.size();
    in.bytes.resize(in.size + 16, 0);
    // The frames as the player finds them: behind the tags, from the first
    // confirmed frame, a VBR header frame left out.
    wl::TMemoryStream stream(std::span<const uint8_t>(in.bytes.data(), in.size));
    wl::TMPStreamReader reader(65536);
    wl::TMP3Info info;
    wl::TStreamFacts facts;
    auto probe = wl::NewDecoder();
    wl::TFrameWalker walk;
    try {
        reader.Open(&stream, true);
        info.Attach(&reader);
        wl::AnalyzeStream(reader, info, *probe, facts);
    } catch (const std::exception&) {
        return false;
    }
    in.first = facts.firstHeader;
    in.firstLength = facts.nextFrameLength - wl::PaddingSlot(facts.firstHeader);
    walk.Assign(&reader, probe.get(), facts);
    for (;;) {
        const int64_t pos = reader.Position();
        if (!walk.ScanFrame()) break;
        in.frames.emplace_back(static_cast<size_t>(pos), static_cast<size_t>(reader.Position() - pos));
    }
    in.samplesPerFrame = wl::SamplesPerFrame(in.first);
    auto d = wl::NewDecoder();
    if (!wl::SetupDecoder(*d, in.first, in.firstLength, 0, 0, wl::kOutputFullBand, 24000)) {
        return false;
    }
    wl::TMPEGOutputFormat format{};
    wl::GetOutputFormat(*d, format);
    in.sampleRate = format.SampleRate;
    return !in.frames.empty() && in.sampleRate > 0;
}

void BM_DecodeFrame(benchmark::State& state, const Input* in, bool fullBand) {
    auto decoder = wl::NewDecoder();
    wl::SelectRoutines(*decoder, wl::GetCpuFeatures());
    if (!wl::SetupDecoder(*decoder, in->first, in->firstLength, 0, 0,
                          fullBand ? wl::kOutputFullBand : 0, wl::tools::kPlayerBandLimitHz)) {
        state.SkipWithError("the decoder does not take this stream");
        return;
    }
    std::vector<int16_t> pcm(wl::kMaxPcmBytesPerFrame / 2);
    size_t i = 0;
    int64_t rejected = 0;
    for (auto _ : state) {
        const auto& [offset, size] = in->frames[i];
        wl::TDecodeResult result{};
        wl::DecodeFrame(*decoder, result, in->bytes.data() + offset,
                        static_cast<int32_t>(in->size - offset), pcm.data());
        rejected += result.BytesConsumed < 1;
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(pcm.data());
        if (++i == in->frames.size()) i = 0;
    }
    const double frames = static_cast<double>(state.iterations());
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["realtime"] = benchmark::Counter(
        frames * in->samplesPerFrame / in->sampleRate, benchmark::Counter::kIsRate);
    state.counters["rejected"] = static_cast<double>(rejected);
}

void BM_DecodeFile(benchmark::State& state, const Input* in) {
    const std::span<const uint8_t> data(in->bytes.data(), in->size);
    double seconds = 0;
    int64_t frames = 0;
    for (auto _ : state) {
        const auto outcome = wl::tools::DecodeMpegAudio(data, {}, {});
        if (!outcome.ok) {
            state.SkipWithError(outcome.error.c_str());
            return;
        }
        seconds += outcome.facts.durationSeconds;
        frames += outcome.facts.frames;
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}

// A synthesized signal encoded by `encoder` (lame or twolame) each listed way.
struct EncodedKind {
    const char* name;
    int32_t rate;
    int32_t channels;
    const char* options;
};

void EncodeInputs(const std::string& tempDir, const std::string& encoder,
                  std::span<const EncodedKind> kinds, std::vector<Input>& inputs) {
    if (tempDir.empty() || !OnPath(encoder)) return;
    for (const auto& k : kinds) {
        const std::string wav = tempDir + "/" + k.name + ".wav";
        const std::string out = tempDir + "/" + k.name + (encoder == "lame" ? ".mp3" : ".mp2");
        WriteSignalWav(wav, k.rate, k.channels, 8.0);
        std::string cmd = encoder + " --quiet ";
        if (encoder == "lame") {
            char resample[32];
            std::snprintf(resample, sizeof resample, "%g", k.rate / 1000.0);
            cmd += std::string("--resample ") + resample + " ";
        }
        cmd += std::string(k.options) + " '" + wav + "' '" + out + "'";
        Input in;
        if (std::system(cmd.c_str()) == 0 && LoadInput(k.name, out, in)) {
            inputs.push_back(std::move(in));
        }
    }
}

std::vector<Input> PrepareInputs(const std::string& tempDir) {
    std::vector<Input> inputs;
    const EncodedKind layer3[] = {
        {"L3_44k_joint_128", 44100, 2, "--cbr -b 128 -m j"},
        {"L3_44k_stereo_320", 44100, 2, "--cbr -b 320 -m s"},
        {"L3_44k_mono_64", 44100, 1, "--cbr -b 64 -m m"},
        {"L3_mpeg2_22k_joint_64", 22050, 2, "--cbr -b 64 -m j"},
    };
    const EncodedKind layer2[] = {
        {"L2_44k_stereo_192", 44100, 2, "-b 192 -m s"},
        {"L2_48k_joint_384", 48000, 2, "-b 384 -m j"},
        {"L2_44k_mono_96", 44100, 1, "-b 96 -m m"},
        {"L2_lsf_22k_stereo_96", 22050, 2, "-b 96 -m s"},
    };
    EncodeInputs(tempDir, "lame", layer3, inputs);
    EncodeInputs(tempDir, "twolame", layer2, inputs);
    const char* env = std::getenv("WL_SHARED_DIR");
    const std::string shared = (env && *env) ? env : WL_SHARED_DIR;
    for (const char* name : {"l3-sin1k0db", "l3-compl", "l3-test45", "M2L3_noise", "l1-fl8",
                             "l2-fl16", "l2-test32"}) {
        const std::string path = shared + "/conformance/" + name + ".bit";
        Input in;
        std::error_code ec;
        if (!shared.empty() && fs::is_regular_file(path, ec) &&
            LoadInput(std::string("conformance_") + name, path, in)) {
            inputs.push_back(std::move(in));
        }
    }
    return inputs;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    std::string tempDir;
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/wl-bench-XXXXXX";
        if (::mkdtemp(pattern.data())) tempDir = pattern;
    }
    const std::vector<Input> inputs = PrepareInputs(tempDir);
    for (const auto& in : inputs) {
        benchmark::RegisterBenchmark(("DecodeFrame/" + in.name + "/full_band").c_str(),
                                     BM_DecodeFrame, &in, true);
        benchmark::RegisterBenchmark(("DecodeFrame/" + in.name + "/band_limit_24k").c_str(),
                                     BM_DecodeFrame, &in, false);
        benchmark::RegisterBenchmark(("DecodeFile/" + in.name).c_str(), BM_DecodeFile, &in);
    }
    if (inputs.empty()) {
        benchmark::RegisterBenchmark("DecodeFrame/no_input", [](benchmark::State& state) {
            state.SkipWithError(
                "no input streams: install lame, or provide the conformance folder "
                "(../shared/conformance or WL_SHARED_DIR)");
        });
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!tempDir.empty()) {
        std::error_code ec;
        fs::remove_all(tempDir, ec);
    }
    return 0;
}
