// wl-play: a console player on TMP3Player. Plays the files in turn, without
// a gap where two follow each other in the same format, printing each one's
// title, artist, format and length and a live position line.
// Ctrl-C (or SIGTERM) stops the playback and closes the sound device before
// leaving; a second one ends the program at once.
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/live_open.h"
#include "engine/mp3_player.h"
#include "tools/tool_guard.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 64;
constexpr int kExitInterrupted = 130;

constexpr const char* kUsage =
    "Usage: wl-play [--output pulse|pulse:SINK|null|wav:FILE] [--volume N]\n"
    "               [--balance N] [--eq G0,...,G9] [--replaygain off|track|album]\n"
    "               [--preamp DB] [--seek SECONDS] FILE|URL...\n"
    "       wl-play --list-outputs\n"
    "\n"
    "Plays MPEG audio files one after the other, without a gap between files of\n"
    "the same sample rate and channel count (the encoder's delay and padding are\n"
    "left out), into one output: with wav:FILE one WAV of everything played.\n"
    "\n"
    "  --output DEV   pulse (a PulseAudio or PipeWire sound server, the default\n"
    "                 unless WAVELANTERN_AUDIO names another), pulse:SINK (the\n"
    "                 server's sink of that name; the default sink when it is\n"
    "                 not there), null (plays in real time without sound) or\n"
    "                 wav:FILE (writes what is played to a WAV file). When the\n"
    "                 sound server cannot be reached at the start the null\n"
    "                 device plays instead; a server that goes away later is\n"
    "                 waited for, and playing goes on where the sound stopped\n"
    "                 once it is back. The WAV file takes the format\n"
    "                 of the first file played; a file of another sample rate or\n"
    "                 channel count is refused, what was written stays. FILE\n"
    "                 must not be one of the files to play (under any name).\n"
    "  --volume N     0..100 (default 100)\n"
    "  --balance N    -100 (left only) .. 100 (right only), default 0\n"
    "  --eq GAINS     ten gains -100..100 in steps of 0.2 dB for the bands at 60,\n"
    "                 112, 208, 387, 720, 1339, 2490, 4629, 8606 and 16000 Hz\n"
    "  --replaygain M off (the default), track or album: play at the loudness the\n"
    "                 file's ReplayGain values ask for (album falls back to\n"
    "                 track), never louder than its stored peak allows\n"
    "  --preamp DB    added to the ReplayGain, -12..12 (default 0)\n"
    "  --seek S       start each file S seconds in (files then start one by one)\n"
    "  --list-outputs the sound server's sinks: NAME, a tab and the description;\n"
    "                 the default one marked with a * before its name\n"
    "  --help         show this text\n"
    "\n"
    "FILEs are regular files: a FIFO or a device is refused at once. A URL\n"
    "(http:// or https://) is a station: it plays until Ctrl-C, or until it\n"
    "cannot be reached for a minute; its name and each title, as it is heard,\n"
    "are printed. A dropped connection is tried again by itself.\n"
    "\n"
    "Exit status: 0 every file played; 1 a file could not be played, or the WAV\n"
    "output is one of the files; 64 bad usage; 130 stopped with Ctrl-C or SIGTERM.\n";

using wl::tools::Interrupted;

int UsageError(const std::string& message) {
    std::fprintf(stderr, "wl-play: %s\n\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

bool ParseInt(const std::string& text, long low, long high, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return *end == '\0' && errno == 0 && value >= low && value <= high;
}

std::string Clock(int64_t ms) {
    const int64_t s = ms / 1000;
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                      static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60),
                      static_cast<long long>(s % 60));
    }
    return text;
}

std::string FormatText(const wl::TMP3Player& p) {
    std::string version = p.Version() == 3 ? "2.5" : std::to_string(p.Version());
    return "MPEG " + version + ", Layer " + std::to_string(p.Layer()) + ", " +
           (p.Channels() == 2 ? "Stereo" : "Mono");
}

std::string RateText(const wl::TMP3Player& p) {
    const std::string khz = std::to_string(p.SampleRate()) + " Hz";
    if (p.Bitrate() == 0) return khz + ", V B R";
    return khz + ", " + std::to_string(p.Bitrate() / 1000) + " kbit/s";
}

struct Options {
    std::string output;  // empty: WAVELANTERN_AUDIO, else pulse
    int volume = 100;
    int balance = 0;
    bool eq = false;
    int gains[10] = {};
    long seekSeconds = 0;
    wl::TMP3ReplayGainMode replayGain = wl::mrgOff;
    long preampDb = 0;
};

// The device a name (or the environment) leads to is the sound server.
bool IsPulse(const std::string& output) {
    std::string name = output;
    if (name.empty()) {
        const char* env = std::getenv("WAVELANTERN_AUDIO");
        if (env) name = env;
    }
    return name.empty() || name == "pulse" || name.rfind("pulse:", 0) == 0;
}

int ListOutputs() {
    std::vector<wl::TOutputInfo> outputs;
    std::string error;
    if (!wl::ListPulseOutputs(outputs, error)) {
        std::fprintf(stderr, "wl-play: %s\n", error.c_str());
        return kExitFailed;
    }
    for (const wl::TOutputInfo& o : outputs)
        std::printf("%s%s\t%s\n", o.Default ? "*" : "", o.Name.c_str(), o.Description.c_str());
    return kExitOk;
}

enum class Outcome { Played, Failed, Interrupted };

void PrintFacts(wl::TMP3Player& player, const std::string& file) {
    std::printf("%s\n", file.c_str());
    std::printf("  title:  %s\n", player.Title().c_str());
    std::printf("  artist: %s\n", player.Artist().c_str());
    std::printf("  format: %s, %s\n", FormatText(player).c_str(), RateText(player).c_str());
    std::printf("  length: %s\n", Clock(player.Length()).c_str());
    std::fflush(stdout);
}

// Runs `step`; an exception from the player is told (about `file` unless it
// is empty) instead of leaving the program. False when there was one.
template <class Step>
bool Guarded(const std::string& file, Step&& step) {
    const std::string about = file.empty() ? std::string() : file + ": ";
    try {
        step();
        return true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "\nwl-play: %s%s\n", about.c_str(), e.what());
    } catch (...) {
        std::fprintf(stderr, "\nwl-play: %sunknown error\n", about.c_str());
    }
    return false;
}

// Stops (when asked), closes and drains the player, whatever fails on the way.
void Finish(wl::TMP3Player& player, const std::string& file, bool stop) {
    if (stop) Guarded(file, [&] { player.Stop(); });
    Guarded(file, [&] { player.Close(); });
    Guarded({}, [&] { player.Messages().ProcessMessages(); });
    player.OnEndPlay = nullptr;
    player.OnNextStarted = nullptr;
    player.OnLiveNews = nullptr;
}

bool IsUrl(const std::string& name) {
    std::string scheme = name.substr(0, 8);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme.rfind("http://", 0) == 0 || scheme.rfind("https://", 0) == 0;
}

// Connects to a station and opens it once its pre-buffer is full; false
// (told) when it cannot be played.
bool OpenStation(wl::TMP3Player& player, const std::string& url) {
    std::unique_ptr<wl::TLiveSource> source;
    try {
        source = wl::OpenStation(url, "WINDOWS-1252");
        source->Start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wl-play: %s: %s\n", url.c_str(), e.what());
        return false;
    }
    const auto result = wl::WaitForPrebuffer(*source, [] { return Interrupted(); }, nullptr);
    if (result == wl::TPrebufferResult::Cancelled) return false;
    if (result == wl::TPrebufferResult::List) {
        std::fprintf(stderr, "wl-play: %s: the server sent a station list, not audio; play one of its stations\n",
                     url.c_str());
        return false;
    }
    if (result == wl::TPrebufferResult::Failed) {
        std::fprintf(stderr, "wl-play: %s\n", source->Error().c_str());
        return false;
    }
    try {
        player.OpenStream(std::move(source), url);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wl-play: %s: %s\n", url.c_str(), e.what());
        return false;
    }
    return true;
}

// Plays files[index] and, without a gap, every following file the player can
// continue into; `index` ends at the last file played.
Outcome PlayFrom(wl::TMP3Player& player, const std::vector<std::string>& files, size_t& index, const Options& o,
                 bool& pulse) {
    const bool tty = ::isatty(STDOUT_FILENO) == 1;
    const std::string& file = files[index];
    const bool station = IsUrl(file);
    if (station) {
        if (!OpenStation(player, file)) return Interrupted() ? Outcome::Interrupted : Outcome::Failed;
    } else {
        try {
            player.SetFileName(file);  // opens
        } catch (const std::exception& e) {
            std::fprintf(stderr, "wl-play: %s: %s\n", file.c_str(), e.what());
            return Outcome::Failed;
        }
    }
    PrintFacts(player, file);
    if (station) {
        std::printf("  station: %s\n", player.Album().c_str());
        std::fflush(stdout);
        // Each title as it is heard; the buffer's and the connection's news on stderr.
        player.OnLiveNews = [tty](wl::TMP3Player*, const wl::TLiveNews& n) {
            switch (n.kind) {
            case wl::TLiveNews::TKind::Title:
                std::printf("%s  now: %s\n", tty ? "\n" : "", n.text.c_str());
                std::fflush(stdout);
                break;
            case wl::TLiveNews::TKind::Buffering:
                if (n.percent == 0)
                    std::fprintf(stderr, "\nwl-play: buffering%s%s\n", n.text.empty() ? "" : ": ", n.text.c_str());
                break;
            case wl::TLiveNews::TKind::Reconnecting:
            case wl::TLiveNews::TKind::Failed:
                std::fprintf(stderr, "\nwl-play: %s\n", n.text.c_str());
                break;
            case wl::TLiveNews::TKind::Playing:
                break;
            }
        };
    }
    int64_t length = player.Length();

    bool ended = false;
    wl::TMP3EndPlayReason reason = wl::mepStopped;
    player.OnEndPlay = [&](wl::TMP3Player*, wl::TMP3EndPlayReason r) {
        ended = true;
        reason = r;
    };
    // Seeking each file breaks the flow from one into the next.
    auto handOverNext = [&] {
        const bool next = o.seekSeconds == 0 && !station && index + 1 < files.size() && !IsUrl(files[index + 1]);
        player.SetNextFileName(next ? files[index + 1] : std::string());
    };
    int64_t lastShown = -1;
    player.OnNextStarted = [&](wl::TMP3Player*) {
        ++index;
        if (tty) std::printf("\n");
        std::printf("  end\n");
        PrintFacts(player, files[index]);
        length = player.Length();
        lastShown = -1;
        handOverNext();
    };
    if (o.seekSeconds == 0 && !Guarded(file, handOverNext)) {
        Finish(player, file, false);
        return Outcome::Failed;
    }
    try {
        player.Play();
    } catch (const std::exception& e) {
        if (!pulse) {
            std::fprintf(stderr, "wl-play: %s: %s\n", file.c_str(), e.what());
            Finish(player, file, false);
            return Outcome::Failed;
        }
        std::fprintf(stderr,
                     "wl-play: the PulseAudio sound server cannot be used (%s); playing on the "
                     "null device (no sound)\n",
                     e.what());
        pulse = false;
        if (!Guarded(file, [&] {
                player.SetOutputDevice("null");
                player.Play();
            })) {
            Finish(player, file, false);
            return Outcome::Failed;
        }
    }
    if (o.seekSeconds > 0 && !station && !Guarded(file, [&] { player.Seek(o.seekSeconds * 1000); })) {
        Finish(player, file, true);
        return Outcome::Failed;
    }

    // No exception from the player leaves this loop: one from an event handler
    // is told and playing goes on; one from the player itself ends this file
    // as failed.
    bool failed = false;
    while (!ended && !failed && !Interrupted()) {
        failed = !Guarded(files[index], [&] {
            player.Messages().WaitForMessage(200);
            // Events name their file themselves.
            Guarded({}, [&] { player.Messages().ProcessMessages(); });
            if (ended) return;
            const int64_t pos = player.Position();
            if (tty && pos / 1000 != lastShown) {
                lastShown = pos / 1000;
                std::printf("\r  %s / %s ", Clock(pos).c_str(), station ? "live" : Clock(length).c_str());
                std::fflush(stdout);
            } else if (!tty && pos / 10000 != lastShown) {
                lastShown = pos / 10000;
                std::printf("  %s / %s\n", Clock(pos).c_str(), station ? "live" : Clock(length).c_str());
                std::fflush(stdout);
            }
        });
    }
    const bool interrupted = !ended && !failed;
    Finish(player, files[index], !ended);
    if (tty) std::printf("\n");
    if (interrupted) {
        std::printf("  stopped\n");
        return Outcome::Interrupted;
    }
    if (failed || reason == wl::mepError) {
        std::printf("  ended by an error\n");
        return Outcome::Failed;
    }
    std::printf("  %s\n", reason == wl::mepEndOfStream ? "end" : "stopped");
    return Outcome::Played;
}

// The file a WAV output (--output or WAVELANTERN_AUDIO) writes; empty for the
// other devices.
std::string WavOutputPath(const std::string& output) {
    std::string name = output;
    if (name.empty()) {
        const char* env = std::getenv("WAVELANTERN_AUDIO");
        if (env) name = env;
    }
    return name.rfind("wav:", 0) == 0 ? name.substr(4) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::vector<std::string> files;
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        long n = 0;
        if (onlyFiles || arg.empty() || arg[0] != '-') {
            files.push_back(arg);
        } else if (arg == "--") {
            onlyFiles = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (arg == "--list-outputs") {
            return ListOutputs();
        } else if (arg == "--output") {
            if (!value(v)) return UsageError("--output needs pulse, pulse:SINK, null or wav:FILE");
            if (v != "pulse" && v != "null" && !(v.rfind("wav:", 0) == 0 && v.size() > 4) &&
                !(v.rfind("pulse:", 0) == 0 && v.size() > 6)) {
                return UsageError("--output needs pulse, pulse:SINK, null or wav:FILE, got '" + v + "'");
            }
            o.output = v;
        } else if (arg == "--volume") {
            if (!value(v) || !ParseInt(v, 0, 100, n)) return UsageError("--volume needs 0..100");
            o.volume = static_cast<int>(n);
        } else if (arg == "--balance") {
            if (!value(v) || !ParseInt(v, -100, 100, n)) return UsageError("--balance needs -100..100");
            o.balance = static_cast<int>(n);
        } else if (arg == "--seek") {
            if (!value(v) || !ParseInt(v, 0, 100000000, n)) return UsageError("--seek needs whole seconds >= 0");
            o.seekSeconds = n;
        } else if (arg == "--replaygain") {
            if (!value(v) || (v != "off" && v != "track" && v != "album")) {
                return UsageError("--replaygain needs off, track or album");
            }
            o.replayGain = v == "off" ? wl::mrgOff : v == "track" ? wl::mrgTrack : wl::mrgAlbum;
        } else if (arg == "--preamp") {
            if (!value(v) || !ParseInt(v, -12, 12, n)) return UsageError("--preamp needs -12..12 (dB)");
            o.preampDb = n;
        } else if (arg == "--eq") {
            if (!value(v)) return UsageError("--eq needs ten gains G0,...,G9");
            int count = 0;
            size_t start = 0;
            for (;;) {
                const size_t comma = v.find(',', start);
                const std::string part = v.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                if (count >= 10 || !ParseInt(part, -100, 100, n)) {
                    return UsageError("--eq needs ten gains -100..100 separated by commas, got '" + v + "'");
                }
                o.gains[count++] = static_cast<int>(n);
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
            if (count != 10) return UsageError("--eq needs ten gains, got " + std::to_string(count));
            o.eq = true;
        } else {
            return UsageError("unknown option " + arg);
        }
    }
    if (files.empty()) return UsageError("no FILE to play");

    const std::string wavPath = WavOutputPath(o.output);
    if (!wavPath.empty()) {
        // "-" is a file of that name here, not a standard stream.
        std::vector<std::string> inputs;
        for (const std::string& f : files) inputs.push_back(f == "-" ? "./-" : f);
        const std::string clash = wl::tools::OutputIsAnInput(wavPath == "-" ? "./-" : wavPath, inputs);
        if (!clash.empty()) {
            std::fprintf(stderr, "wl-play: %s\n", clash.c_str());
            return kExitFailed;
        }
    }
    wl::tools::InstallInterruptHandlers();

    bool pulse = IsPulse(o.output);
    int status = kExitOk;
    try {
        wl::TMP3Player player(o.output);
        player.SetAutoPlay(false);
        player.SetNoisySeek(false);
        player.SetReplayGain(o.replayGain, static_cast<double>(o.preampDb), true);
        player.SetVolume(o.volume);
        player.SetVolBalance(o.balance);
        // The sound server's comings and goings, told as they happen.
        player.OnOutputState = [](wl::TMP3Player*, bool waiting, const std::string& text) {
            if (waiting)
                std::fprintf(stderr, "\nwl-play: Sound server lost \u2014 reconnecting\u2026 (%s)\n", text.c_str());
            else if (text.empty())
                std::fprintf(stderr, "\nwl-play: sound server back\n");
            else
                std::fprintf(stderr, "\nwl-play: %s\n", text.c_str());
        };
        if (o.eq) {
            player.SetEqualizerMode(wl::memFreq);
            player.SetEqualizerCount(10);
            player.SetEqualizerFrequencies(60, 16000);
            for (int b = 0; b < 10; ++b) player.SetEqualizerValue(b, o.gains[b]);
            player.SetEqualizerEnabled(true);
        }
        for (size_t index = 0; index < files.size(); ++index) {
            if (Interrupted()) break;
            const Outcome outcome = PlayFrom(player, files, index, o, pulse);
            if (outcome == Outcome::Failed) status = kExitFailed;
            if (outcome == Outcome::Interrupted) break;
        }
    } catch (const std::exception& e) {
        // Whatever else the player raises (setting it up, its facts) is told too.
        std::fprintf(stderr, "wl-play: %s\n", e.what());
        status = kExitFailed;
    }
    return Interrupted() ? kExitInterrupted : status;
}
