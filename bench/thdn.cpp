// wl_thdn: THD+N of a sine in a 16-bit PCM WAV file, per channel.
//
//   wl_thdn [--freq HZ] [--skip MS] FILE.wav
//
// Fits A sin + B cos of the given frequency plus a constant (least squares)
// to each channel, leaving out the first and last MS milliseconds (default
// 100), and prints the RMS of what is left against the RMS of the whole, in
// dB, with the fitted level in dBFS.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Wav {
    int channels = 0;
    int rate = 0;
    std::vector<int16_t> samples;  // interleaved
};

uint32_t Get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool ReadWav(const char* path, Wav& wav) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return false;
    bool haveFormat = false;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const uint32_t size = Get32(&bytes[at + 4]);
        const uint8_t* body = &bytes[at + 8];
        const size_t avail = std::min<size_t>(size, bytes.size() - at - 8);
        if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && avail >= 16) {
            if (Get16(body) != 1 || Get16(body + 14) != 16) return false;
            wav.channels = Get16(body + 2);
            wav.rate = static_cast<int>(Get32(body + 4));
            haveFormat = wav.channels > 0 && wav.rate > 0;
        } else if (std::memcmp(&bytes[at], "data", 4) == 0 && haveFormat) {
            wav.samples.resize(avail / 2);
            std::memcpy(wav.samples.data(), body, wav.samples.size() * 2);
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

struct Fit {
    double residualPower = 0;  // mean square of what the fit leaves
    double totalPower = 0;     // mean square of the signal
    double amplitude = 0;
};

// Least-squares fit of a sin(wn) + b cos(wn) + c to x.
Fit FitSine(const std::vector<double>& x, double w) {
    double m[3][3] = {}, v[3] = {};
    for (size_t n = 0; n < x.size(); ++n) {
        const double r[3] = {std::sin(w * double(n)), std::cos(w * double(n)), 1.0};
        for (int i = 0; i < 3; ++i) {
            v[i] += r[i] * x[n];
            for (int j = 0; j < 3; ++j) m[i][j] += r[i] * r[j];
        }
    }
    // Gaussian elimination with partial pivoting.
    int order[3] = {0, 1, 2};
    for (int c = 0; c < 3; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 3; ++r)
            if (std::fabs(m[r][c]) > std::fabs(m[pivot][c])) pivot = r;
        std::swap(m[c], m[pivot]);
        std::swap(v[c], v[pivot]);
        std::swap(order[c], order[pivot]);
        for (int r = c + 1; r < 3; ++r) {
            const double k = m[r][c] / m[c][c];
            for (int j = c; j < 3; ++j) m[r][j] -= k * m[c][j];
            v[r] -= k * v[c];
        }
    }
    double p[3];
    for (int c = 2; c >= 0; --c) {
        double s = v[c];
        for (int j = c + 1; j < 3; ++j) s -= m[c][j] * p[j];
        p[c] = s / m[c][c];
    }
    Fit fit;
    fit.amplitude = std::hypot(p[0], p[1]);
    for (size_t n = 0; n < x.size(); ++n) {
        const double e = x[n] - (p[0] * std::sin(w * double(n)) + p[1] * std::cos(w * double(n)) + p[2]);
        fit.residualPower += e * e;
        fit.totalPower += x[n] * x[n];
    }
    fit.residualPower /= double(x.size());
    fit.totalPower /= double(x.size());
    return fit;
}

int Usage() {
    std::fprintf(stderr, "Usage: wl_thdn [--freq HZ] [--skip MS] FILE.wav\n");
    return 64;
}

}  // namespace

int main(int argc, char** argv) {
    double freq = 1000;
    double skipMs = 100;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--freq" && i + 1 < argc) {
            freq = std::atof(argv[++i]);
        } else if (arg == "--skip" && i + 1 < argc) {
            skipMs = std::atof(argv[++i]);
        } else if (!path && arg[0] != '-') {
            path = argv[i];
        } else {
            return Usage();
        }
    }
    if (!path || !(freq > 0) || !(skipMs >= 0)) return Usage();
    Wav wav;
    if (!ReadWav(path, wav)) {
        std::fprintf(stderr, "wl_thdn: %s: not a readable 16-bit PCM WAV file\n", path);
        return 1;
    }
    const size_t frames = wav.samples.size() / static_cast<size_t>(wav.channels);
    const size_t skip = static_cast<size_t>(skipMs * wav.rate / 1000);
    if (frames <= 2 * skip + static_cast<size_t>(wav.rate / 10)) {
        std::fprintf(stderr, "wl_thdn: %s: too short\n", path);
        return 1;
    }
    const double w = 2 * 3.14159265358979323846 * freq / wav.rate;
    for (int c = 0; c < wav.channels; ++c) {
        std::vector<double> x;
        x.reserve(frames - 2 * skip);
        for (size_t n = skip; n < frames - skip; ++n) x.push_back(wav.samples[n * wav.channels + c]);
        const Fit fit = FitSine(x, w);
        const double thdn = 10 * std::log10(fit.residualPower / fit.totalPower);
        const double level = 20 * std::log10(fit.amplitude / 32768);
        std::printf("channel %d: THD+N %.1f dB, fundamental %.2f dBFS\n", c, thdn, level);
    }
    return 0;
}
