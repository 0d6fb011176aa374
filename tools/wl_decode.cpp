// wl-decode: decodes an MPEG audio file to 16-bit PCM (WAV or raw), or, without
// an output, decodes everything and prints the stream facts and the speed.
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/errors.h"
#include "io/file_stream.h"
#include "engine/frame_walk.h"
#include "engine/stream_open.h"
#include "engine/player_decode.h"
#include "engine/live_open.h"
#include "tools/decode_file.h"
#include "tools/info_print.h"
#include "tools/tool_guard.h"

namespace {

using wl::tools::DecodeOptions;
using wl::tools::StreamFacts;

constexpr int kExitOk = 0;
constexpr int kExitIo = 1;
constexpr int kExitNotMpeg = 2;
constexpr int kExitUsage = 64;
constexpr int kExitInterrupted = 130;

constexpr const char* kUsage =
    "Usage: wl-decode [--raw | --wav] [--band-limit HZ] [--no-gapless] INPUT [OUTPUT | -]\n"
    "       wl-decode [--raw | --wav] [--seconds N] URL OUTPUT\n"
    "       wl-decode --player [--raw | --wav] INPUT OUTPUT\n"
    "       wl-decode --info INPUT\n"
    "\n"
    "Decodes an MPEG audio file to 16-bit PCM.\n"
    "\n"
    "  INPUT            the file to decode; '-' reads standard input. Standard\n"
    "                   input, a FIFO or a device is read once, front to back, in\n"
    "                   bounded memory (data that needs going back far is refused\n"
    "                   with a message: give it as a file)\n"
    "  OUTPUT           where the PCM goes; '-' is standard output. Without OUTPUT\n"
    "                   nothing is written: the whole file is decoded and the stream\n"
    "                   facts, the CPU time and the realtime factor are printed.\n"
    "  --wav            write WAV (the default when OUTPUT ends in .wav). It keeps\n"
    "                   the first frame's channel count; frames with another count\n"
    "                   are mixed down or duplicated.\n"
    "  --raw            write raw signed 16-bit little-endian interleaved samples\n"
    "                   (the default otherwise); each frame keeps its own channel\n"
    "                   count.\n"
    "  --band-limit HZ  decode the band up to HZ only, the way the player does (it\n"
    "                   uses 24000), instead of the full band\n"
    "  --no-gapless     write every decoded sample; by default the encoder's delay\n"
    "                   and padding are dropped as the player drops them (Layer III\n"
    "                   files whose Xing/Info header frame gives them)\n"
    "  --player         decode exactly as the player plays: its opening analysis\n"
    "                   (tags, first frame, Xing/VBRI header frame skipped), its\n"
    "                   frame walk, silence for frames the decoder refuses; the\n"
    "                   output is the PCM the player hands to its sound output\n"
    "                   (INPUT must be a regular file)\n"
    "  URL              an http:// or https:// station: recorded until Ctrl-C,\n"
    "                   SIGTERM or --seconds N seconds of sound; the station's name\n"
    "                   and each title (at its time in the recording) go to\n"
    "                   standard error. A dropped connection is tried again.\n"
    "  --seconds N      stop recording a URL after N seconds (1 to 86400)\n"
    "  --info           print the wrappers and tags found in INPUT, where its audio\n"
    "                   starts, how long it is, and its tag texts\n"
    "  --help           show this text\n"
    "\n"
    "OUTPUT must not be INPUT (under any name): that is refused before anything\n"
    "is written.\n"
    "\n"
    "Exit status: 0 success; 1 a file could not be read or written, or OUTPUT is\n"
    "INPUT; 2 no MPEG audio found (\"unknown MPEG Audio format.\"); 64 bad usage;\n"
    "130 stopped by Ctrl-C or SIGTERM (what was written is kept, a WAV with its\n"
    "sizes).\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "wl-decode: %s\n\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

bool EndsWithWav(std::string_view path) {
    if (path.size() < 4) return false;
    std::string tail(path.substr(path.size() - 4));
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".wav";
}

double CpuSeconds() {
    timespec ts{};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts) != 0) {
        return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
    }
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Writes PCM to a file or standard output, as raw samples or WAV.
class PcmWriter {
public:
    PcmWriter(std::string path, bool wav) : path_(std::move(path)), wav_(wav) {}
    ~PcmWriter() {
        if (file_ && file_ != stdout) std::fclose(file_);
    }

    // Opens the output once the stream's format is known.
    bool Begin(int32_t channels, int32_t sampleRate) {
        channels_ = channels;
        rate_ = sampleRate;
        if (path_ == "-") {
            file_ = stdout;
        } else {
            file_ = std::fopen(path_.c_str(), "wb");
            if (!file_) return Fail("cannot open");
        }
        static char buffer[1 << 16];
        std::setvbuf(file_, buffer, _IOFBF, sizeof buffer);
        if (wav_) {
            struct stat st {};
            seekable_ = ::fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode) &&
                        ::lseek(fileno(file_), 0, SEEK_CUR) != -1;
            // Streamed WAV cannot be patched later: announce the largest sizes.
            const auto header =
                wl::tools::MakeWavHeader(channels_, rate_, seekable_ ? 0 : 0xFFFFFFFFu);
            if (!Put(header.data(), header.size())) return false;
        }
        return true;
    }

    bool Frame(const int16_t* pcm, size_t bytes, int32_t channels) {
        const size_t samples = bytes / 2;
        if (!wav_ || channels == channels_) return PutSamples(pcm, samples);
        convert_.clear();
        if (channels == 2 && channels_ == 1) {
            for (size_t i = 0; i + 1 < samples; i += 2) {
                const int32_t sum = int32_t{pcm[i]} + int32_t{pcm[i + 1]};
                // Average, rounding halves away from zero.
                convert_.push_back(static_cast<int16_t>((sum >= 0 ? sum + 1 : sum - 1) / 2));
            }
        } else {
            for (size_t i = 0; i < samples; ++i) {
                convert_.push_back(pcm[i]);
                convert_.push_back(pcm[i]);
            }
        }
        return PutSamples(convert_.data(), convert_.size());
    }

    bool Finish() {
        if (!file_) return !failed_;
        if (wav_ && seekable_ && !failed_) {
            const auto header = wl::tools::MakeWavHeader(channels_, rate_, dataBytes_);
            if (std::fseek(file_, 0, SEEK_SET) != 0) return Fail("cannot write");
            if (std::fwrite(header.data(), 1, header.size(), file_) != header.size()) {
                return Fail("cannot write");
            }
        }
        if (std::fflush(file_) != 0) return Fail("cannot write");
        if (file_ != stdout) {
            const int rc = std::fclose(file_);
            file_ = nullptr;
            if (rc != 0) return Fail("cannot write");
        }
        return !failed_;
    }

    bool Opened() const { return file_ != nullptr; }
    const std::string& Error() const { return error_; }

private:
    bool Fail(const char* what) {
        if (!failed_) {
            error_ = std::string(what) + " " + path_ + ": " + std::strerror(errno);
            failed_ = true;
        }
        return false;
    }

    bool PutSamples(const int16_t* samples, size_t count) {
        if constexpr (std::endian::native == std::endian::little) {
            if (!Put(samples, count * 2)) return false;
        } else {
            swapped_.resize(count * 2);
            for (size_t i = 0; i < count; ++i) {
                const auto v = static_cast<uint16_t>(samples[i]);
                swapped_[2 * i] = static_cast<uint8_t>(v);
                swapped_[2 * i + 1] = static_cast<uint8_t>(v >> 8);
            }
            if (!Put(swapped_.data(), swapped_.size())) return false;
        }
        dataBytes_ += count * 2;
        return true;
    }

    bool Put(const void* data, size_t bytes) {
        if (failed_) return false;
        if (bytes && std::fwrite(data, 1, bytes, file_) != bytes) return Fail("cannot write");
        return true;
    }

    std::string path_;
    bool wav_;
    FILE* file_ = nullptr;
    bool seekable_ = false;
    bool failed_ = false;
    int32_t channels_ = 0;
    int32_t rate_ = 0;
    uint64_t dataBytes_ = 0;
    std::string error_;
    std::vector<int16_t> convert_;
    std::vector<uint8_t> swapped_;
};

void PrintFacts(const std::string& input, const StreamFacts& f, double cpuSeconds) {
    const auto& h = f.firstHeader;
    std::string bitrate;
    const double averageKbps =
        f.durationSeconds > 0 ? static_cast<double>(f.frameBytes) * 8.0 / f.durationSeconds / 1000.0
                              : 0.0;
    char text[160];
    if (f.freeFormat) {
        std::snprintf(text, sizeof text, "free format (%d bytes per frame, about %.0f kbit/s)",
                      f.freeFormatLength, averageKbps);
    } else if (f.variableBitrate) {
        std::snprintf(text, sizeof text, "variable bitrate, average %.0f kbit/s", averageKbps);
    } else {
        std::snprintf(text, sizeof text, "%d kbit/s", f.firstBitrateKbps);
    }
    bitrate = text;

    std::printf("file:            %s\n", input.c_str());
    std::printf("stream:          %s %s, %d Hz, %s, %s\n", wl::tools::VersionName(h).c_str(),
                wl::tools::LayerName(h).c_str(), f.sampleRate, wl::tools::ModeName(h).c_str(),
                bitrate.c_str());
    std::printf("channels:        %d%s\n", f.channels,
                f.channelsChanged ? " (changes between mono and stereo frames)" : "");
    std::printf("frames:          %lld\n", static_cast<long long>(f.frames));
    if (f.silentFrames > 0) {
        std::printf("silent frames:   %lld (not decodable, output as silence)\n",
                    static_cast<long long>(f.silentFrames));
    }
    if (f.skippedBytes > 0) {
        std::printf("skipped bytes:   %lld (not frames of this stream)\n",
                    static_cast<long long>(f.skippedBytes));
    }
    std::printf("samples:         %lld per channel\n", static_cast<long long>(f.samplesPerChannel));
    std::printf("duration:        %.3f s\n", f.durationSeconds);
    std::printf("cpu time:        %.4f s\n", cpuSeconds);
    if (cpuSeconds > 0) {
        std::printf("realtime factor: %.1fx\n", f.durationSeconds / cpuSeconds);
    } else {
        std::printf("realtime factor: unmeasurable (no CPU time was counted)\n");
    }
}

// The input: a regular file is read with seeks; standard input, a FIFO or a
// device once, front to back, and a wait for its bytes ends on Ctrl-C.
std::unique_ptr<wl::TStream> OpenInput(const std::string& input) {
    const int wake = wl::tools::InterruptWakeFd();
    if (input == "-") return std::make_unique<wl::TPipeStream>(STDIN_FILENO, "standard input", wake);
    struct stat st {};
    if (::stat(input.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        return std::make_unique<wl::TPipeStream>(input, wake);
    }
    return std::make_unique<wl::TFileStream>(input);
}

int InterruptedExit() {
    std::fprintf(stderr, "interrupted\n");
    return kExitInterrupted;
}

bool IsUrl(const std::string& input) {
    std::string scheme = input.substr(0, 8);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme.rfind("http://", 0) == 0 || scheme.rfind("https://", 0) == 0;
}

std::string TimeText(int64_t samples, int32_t rate) {
    const int64_t s = rate > 0 ? samples / rate : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
    return text;
}

// Records a station into `writer` until interrupted, the source gives up or
// `seconds` (> 0) of sound are written.
int RecordStation(const std::string& url, PcmWriter& writer, long seconds, DecodeOptions options) {
    // A header frame at the start tells of the track then starting, not of
    // the stream: nothing is trimmed.
    options.gapless = false;
    std::unique_ptr<wl::TLiveSource> source;
    try {
        source = wl::OpenStation(url, "WINDOWS-1252");
        source->Start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", url.c_str(), e.what());
        return kExitIo;
    }
    const auto result = wl::WaitForPrebuffer(*source, [] { return wl::tools::Interrupted(); }, nullptr);
    if (result == wl::TPrebufferResult::Cancelled) return InterruptedExit();
    if (result == wl::TPrebufferResult::List) {
        std::fprintf(stderr, "%s: the server sent a station list, not audio; record one of its stations\n",
                     url.c_str());
        return kExitIo;
    }
    if (result == wl::TPrebufferResult::Failed) {
        std::fprintf(stderr, "%s\n", source->Error().c_str());
        return kExitIo;
    }
    const wl::TStationFacts station = source->Facts();
    if (!station.name.empty()) std::fprintf(stderr, "station: %s\n", station.name.c_str());
    int64_t samples = 0;
    int32_t rate = 0;
    wl::TWaitingLiveStream stream(
        *source, [] { return wl::tools::Interrupted(); },
        [&](const wl::TLiveTitle& t) {
            std::fprintf(stderr, "[%s] %s\n", TimeText(samples, rate).c_str(), t.title.c_str());
        });
    wl::tools::FrameSink sink;
    bool writeOk = true;
    sink.begin = [&](int32_t channels, int32_t sampleRate) {
        rate = sampleRate;
        writeOk = writer.Begin(channels, sampleRate);
    };
    sink.frame = [&](const int16_t* pcm, size_t bytes, int32_t channels, int32_t sampleRate) {
        if (!writeOk || wl::tools::Interrupted() || !writer.Frame(pcm, bytes, channels)) return false;
        samples += static_cast<int64_t>(bytes / (2 * static_cast<size_t>(channels)));
        return seconds <= 0 || samples < int64_t{seconds} * sampleRate;
    };
    const auto outcome = wl::tools::DecodeMpegStream(stream, options, sink);
    if (wl::tools::Interrupted()) {
        writer.Finish();
        return InterruptedExit();
    }
    if (!outcome.ok) {
        std::fprintf(stderr, "%s: %s\n", url.c_str(), outcome.error.c_str());
        writer.Finish();
        return outcome.error == wl::tools::kUnknownFormatMessage ? kExitNotMpeg : kExitIo;
    }
    if (!writer.Finish() || !writeOk) {
        std::fprintf(stderr, "%s\n", writer.Error().c_str());
        return kExitIo;
    }
    // The station gave up before the time asked for.
    if (source->State() == wl::TLiveState::Failed) {
        std::fprintf(stderr, "%s\n", source->Error().c_str());
        return kExitIo;
    }
    return kExitOk;
}

// Refuses an OUTPUT that is INPUT before anything is opened for writing.
bool OutputIsInput(const std::string& output, const std::string& input) {
    const std::string clash = wl::tools::OutputIsAnInput(output, {input});
    if (clash.empty()) return false;
    std::fprintf(stderr, "%s\n", clash.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);  // report a closed pipe as a write error
    wl::tools::InstallInterruptHandlers();

    enum class Format { Auto, Raw, Wav } format = Format::Auto;
    DecodeOptions options;
    std::vector<std::string> positional;
    bool onlyPositional = false;
    bool infoOnly = false;
    bool player = false;
    long seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyPositional || arg == "-" || arg.empty() || arg[0] != '-') {
            positional.push_back(arg);
        } else if (arg == "--") {
            onlyPositional = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (arg == "--info") {
            infoOnly = true;
        } else if (arg == "--player") {
            player = true;
        } else if (arg == "--seconds") {
            if (i + 1 >= argc) return UsageError("--seconds needs a number of seconds");
            const std::string value = argv[++i];
            char* end = nullptr;
            errno = 0;
            seconds = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || seconds < 1 || seconds > 86400)
                return UsageError("--seconds needs a number from 1 to 86400, got '" + value + "'");
        } else if (arg == "--no-gapless") {
            options.gapless = false;
        } else if (arg == "--raw" || arg == "--wav") {
            const Format wanted = arg == "--raw" ? Format::Raw : Format::Wav;
            if (format != Format::Auto && format != wanted) {
                return UsageError("--raw and --wav exclude each other");
            }
            format = wanted;
        } else if (arg == "--band-limit" || arg.rfind("--band-limit=", 0) == 0) {
            std::string value;
            if (arg == "--band-limit") {
                if (i + 1 >= argc) return UsageError("--band-limit needs a frequency in Hz");
                value = argv[++i];
            } else {
                value = arg.substr(std::strlen("--band-limit="));
            }
            char* end = nullptr;
            errno = 0;
            const long hz = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || hz < 1 || hz > 1000000) {
                return UsageError("--band-limit needs a frequency in Hz (1 to 1000000), got '" +
                                  value + "'");
            }
            options.fullBand = false;
            options.bandLimitHz = static_cast<int32_t>(hz);
        } else {
            return UsageError("unknown option " + arg);
        }
    }
    if (positional.empty()) return UsageError("missing INPUT");
    if (positional.size() > 2) return UsageError("too many arguments");
    const std::string input = positional[0];
    if (IsUrl(input)) {
        if (infoOnly || player) return UsageError("a URL is recorded: --info and --player take files");
        if (positional.size() != 2) return UsageError("a URL needs an OUTPUT to record into");
        const std::string& output = positional[1];
        const bool wav = format == Format::Wav || (format == Format::Auto && EndsWithWav(output));
        PcmWriter writer(output, wav);
        return RecordStation(input, writer, seconds, options);
    }
    if (seconds > 0) return UsageError("--seconds is for recording a URL");
    if (infoOnly) {
        if (positional.size() != 1) return UsageError("--info takes only INPUT");
        std::string error;
        if (!wl::tools::PrintMediaInfo(input, stdout, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return kExitIo;
        }
        return kExitOk;
    }
    if (player) {
        if (positional.size() != 2) return UsageError("--player needs INPUT and OUTPUT");
        if (input == "-") return UsageError("--player reads a file, not standard input");
        if (OutputIsInput(positional[1], input)) return kExitIo;
        const bool wav = format == Format::Wav || (format == Format::Auto && EndsWithWav(positional[1]));
        PcmWriter writer(positional[1], wav);
        bool writeOk = true;
        int32_t channels = 0;
        try {
            wl::TFileStream stream(input);
            wl::DecodeAsPlayer(
                stream,
                [&](const wl::TStreamFacts& f) {
                    channels = f.channels;
                    writeOk = writer.Begin(f.channels, f.sampleRate);
                },
                [&](const uint8_t* pcm, int32_t bytes) {
                    return writeOk && !wl::tools::Interrupted() &&
                           writer.Frame(reinterpret_cast<const int16_t*>(pcm), static_cast<size_t>(bytes),
                                        channels);
                });
        } catch (const wl::EMP3Error& e) {
            if (wl::tools::Interrupted()) return InterruptedExit();
            std::fprintf(stderr, "%s\n", e.what());
            return std::string(e.what()) == wl::kUnknownFormatText ? kExitNotMpeg : kExitIo;
        }
        if (wl::tools::Interrupted()) {
            writer.Finish();
            return InterruptedExit();
        }
        if (!writer.Finish() || !writeOk) {
            std::fprintf(stderr, "%s\n", writer.Error().c_str());
            return kExitIo;
        }
        return kExitOk;
    }
    const bool benchmark = positional.size() == 1;
    if (benchmark && format != Format::Auto) {
        return UsageError("--raw and --wav need an OUTPUT");
    }

    // The input is read piece by piece, whatever it is.
    auto decode = [&](const wl::tools::FrameSink& sink) {
        try {
            const auto stream = OpenInput(input);
            return wl::tools::DecodeMpegStream(*stream, options, sink);
        } catch (const wl::EMP3Error& e) {
            wl::tools::DecodeOutcome outcome;
            outcome.error = e.what();
            return outcome;
        }
    };
    // "unknown MPEG Audio format." exits 2; a file that cannot be read, 1.
    auto failure = [](const wl::tools::DecodeOutcome& outcome) {
        if (wl::tools::Interrupted()) return InterruptedExit();
        std::fprintf(stderr, "%s\n", outcome.error.c_str());
        return outcome.error == wl::tools::kUnknownFormatMessage ? kExitNotMpeg : kExitIo;
    };

    if (benchmark) {
        wl::tools::FrameSink sink;  // decode only
        sink.frame = [](const int16_t*, size_t, int32_t, int32_t) { return !wl::tools::Interrupted(); };
        const double before = CpuSeconds();
        const auto outcome = decode(sink);
        const double cpu = CpuSeconds() - before;
        if (!outcome.ok) return failure(outcome);
        if (wl::tools::Interrupted()) return InterruptedExit();
        PrintFacts(input, outcome.facts, cpu);
        return kExitOk;
    }

    const std::string output = positional[1];
    if (OutputIsInput(output, input)) return kExitIo;
    const bool wav = format == Format::Wav || (format == Format::Auto && EndsWithWav(output));
    PcmWriter writer(output, wav);
    wl::tools::FrameSink sink;
    bool writeOk = true;
    sink.begin = [&](int32_t channels, int32_t rate) { writeOk = writer.Begin(channels, rate); };
    sink.frame = [&](const int16_t* pcm, size_t bytes, int32_t channels, int32_t) {
        return writeOk && !wl::tools::Interrupted() && writer.Frame(pcm, bytes, channels);
    };
    const auto outcome = decode(sink);
    if (wl::tools::Interrupted()) {
        writer.Finish();  // what was written stays, a WAV with its sizes
        return InterruptedExit();
    }
    if (!outcome.ok) return failure(outcome);
    if (!writer.Finish() || !writeOk) {
        std::fprintf(stderr, "%s\n", writer.Error().c_str());
        return kExitIo;
    }
    return kExitOk;
}
