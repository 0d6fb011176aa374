#include "tests/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>

#include "decoder/frame_header.h"

#ifndef WL_SHARED_DIR
#define WL_SHARED_DIR ""
#endif
#ifndef WL_SOURCE_DIR
#define WL_SOURCE_DIR "."
#endif
#ifndef WL_DECODE_BIN
#define WL_DECODE_BIN "wl-decode"
#endif

namespace wl::test {
namespace fs = std::filesystem;

std::string SharedDir() {
    const char* env = std::getenv("WL_SHARED_DIR");
    const std::string dir = (env && *env) ? env : WL_SHARED_DIR;
    std::error_code ec;
    if (dir.empty() || !fs::is_directory(dir, ec)) return {};
    return dir;
}

std::string ConformanceDir() {
    const std::string shared = SharedDir();
    if (shared.empty()) return {};
    const std::string dir = shared + "/conformance";
    std::error_code ec;
    return fs::is_directory(dir, ec) ? dir : std::string{};
}

std::string SourceDir() { return WL_SOURCE_DIR; }

std::string DecodeBinary() { return WL_DECODE_BIN; }

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path, bool* ok) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes;
    if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (ok) *ok = in.good() || in.eof();
    return bytes;
}

bool WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<int16_t> BytesToPcm16(std::span<const uint8_t> bytes) {
    std::vector<int16_t> pcm(bytes.size() / 2);
    for (size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    }
    return pcm;
}

std::vector<int16_t> ReadPcm16(const std::string& path, bool* ok) {
    return BytesToPcm16(ReadFileBytes(path, ok));
}

PcmComparison ComparePcm(std::span<const int16_t> a, std::span<const int16_t> b) {
    PcmComparison c;
    c.count = std::min(a.size(), b.size());
    double sumSquares = 0.0;
    for (size_t i = 0; i < c.count; ++i) {
        const int diff = std::abs(int{a[i]} - int{b[i]});
        if (diff > c.maxAbsDiff) {
            c.maxAbsDiff = diff;
            c.maxDiffIndex = i;
        }
        sumSquares += static_cast<double>(diff) * diff;
    }
    c.rmsLsb = c.count ? std::sqrt(sumSquares / static_cast<double>(c.count)) : 0.0;
    c.psnrDb = c.rmsLsb > 0 ? 20.0 * std::log10(32768.0 / c.rmsLsb)
                            : std::numeric_limits<double>::infinity();
    return c;
}

std::string Describe(const PcmComparison& c) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "%zu samples compared, max diff %d LSB (at sample %zu), RMS %.4f LSB, PSNR %.1f dB",
                  c.count, c.maxAbsDiff, c.maxDiffIndex, c.rmsLsb, c.psnrDb);
    return text;
}

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    std::fflush(nullptr);
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[1 << 15];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    if (status == -1) {
        result.exitCode = -1;
    } else if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.exitCode = 128 + WTERMSIG(status);
    }
    return result;
}

std::string ShellQuote(const std::string& s) {
    std::string quoted = "'";
    for (char c : s) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::stringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0) return true;
    }
    return false;
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/wl-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data())) path_ = buffer.data();
}

TempDir::~TempDir() {
    if (!path_.empty()) {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
}

std::vector<int16_t> SynthesizeSignal(int32_t sampleRate, int32_t channels, double seconds,
                                      uint32_t seed) {
    const auto frames = static_cast<size_t>(seconds * sampleRate);
    std::vector<int16_t> pcm(frames * static_cast<size_t>(channels));
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 60.0);
    const double nyquist = sampleRate / 2.0;
    // Partials spread over the band (relative to Nyquist) so every rate exercises
    // low, middle and high subbands.
    const double partials[] = {0.011, 0.037, 0.09, 0.21, 0.43, 0.71};
    const double amplitudes[] = {5200, 3800, 2600, 1700, 900, 450};
    const double pi = 3.14159265358979323846;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double envelope = 0.55 + 0.45 * std::sin(2 * pi * 0.7 * t);
        for (int32_t ch = 0; ch < channels; ++ch) {
            double v = 0.0;
            for (size_t k = 0; k < std::size(partials); ++k) {
                const double f = partials[k] * nyquist * (1.0 + 0.013 * ch);
                const double a = amplitudes[k] * (ch == 0 ? 1.0 : (k % 2 ? 0.6 : 1.2));
                v += a * std::sin(2 * pi * f * t + 0.3 * k + ch);
            }
            v = v * envelope + noise(rng);
            pcm[i * static_cast<size_t>(channels) + static_cast<size_t>(ch)] =
                static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
        }
    }
    return pcm;
}

bool WriteWav(const std::string& path, std::span<const int16_t> pcm, int32_t channels,
              int32_t sampleRate) {
    // A canonical 44-byte header: RIFF, a 16-byte fmt chunk of 16-bit PCM, data.
    std::vector<uint8_t> bytes;
    const auto put = [&bytes](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    const auto tag = [&bytes](const char* t) { bytes.insert(bytes.end(), t, t + 4); };
    const auto data = static_cast<uint32_t>(pcm.size() * 2);
    const auto rate = static_cast<uint32_t>(sampleRate);
    const auto ch = static_cast<uint32_t>(channels);
    tag("RIFF"), put(36 + data, 4), tag("WAVE"), tag("fmt "), put(16, 4), put(1, 2), put(ch, 2);
    put(rate, 4), put(rate * ch * 2, 4), put(ch * 2, 2), put(16, 2), tag("data"), put(data, 4);
    bytes.reserve(bytes.size() + pcm.size() * 2);
    for (int16_t s : pcm) {
        const auto v = static_cast<uint16_t>(s);
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    return WriteFileBytes(path, bytes);
}

}  // namespace wl::test
