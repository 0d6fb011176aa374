// Helpers shared by the tests: where the shared test data lives, file and PCM
// handling, running programs, synthesized test signals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace wl::test {

// The shared test-data folder: $WL_SHARED_DIR when set, else the build's
// WL_SHARED_DIR (the folder beside the source tree). Empty when it does not exist.
std::string SharedDir();
// SharedDir()/conformance, empty when absent.
std::string ConformanceDir();
// The source tree (for bundled files such as the demo).
std::string SourceDir();
// The built wl-decode.
std::string DecodeBinary();

bool FileExists(const std::string& path);
// Whole file, empty on failure (`ok` tells the two apart when given).
std::vector<uint8_t> ReadFileBytes(const std::string& path, bool* ok = nullptr);
bool WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes);
// Signed 16-bit little-endian samples.
std::vector<int16_t> ReadPcm16(const std::string& path, bool* ok = nullptr);
std::vector<int16_t> BytesToPcm16(std::span<const uint8_t> bytes);

// Comparison of two interleaved 16-bit buffers over their common length.
// rmsLsb is the RMS of the difference in LSB; psnrDb = 20*log10(32768 / rmsLsb)
// (full scale 32768; infinity when identical).
struct PcmComparison {
    size_t count = 0;
    int maxAbsDiff = 0;
    size_t maxDiffIndex = 0;
    double rmsLsb = 0.0;
    double psnrDb = 0.0;
};
PcmComparison ComparePcm(std::span<const int16_t> a, std::span<const int16_t> b);
std::string Describe(const PcmComparison& c);

// Runs `command` through /bin/sh and captures its standard output (standard
// error goes where the command sends it). exitCode is the program's exit status,
// or 128 + signal, or -1 when it could not be started.
struct CommandResult {
    int exitCode = -1;
    std::string output;
};
CommandResult RunCommand(const std::string& command);
// Single-quotes a string for /bin/sh.
std::string ShellQuote(const std::string& s);
// True when an executable of that name is on PATH.
bool OnPath(const std::string& program);

// A fresh temporary directory, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A test signal: a few sines whose frequencies scale with the rate, a slow
// amplitude envelope, a different mix per channel, and a little noise.
std::vector<int16_t> SynthesizeSignal(int32_t sampleRate, int32_t channels, double seconds,
                                      uint32_t seed = 1);
bool WriteWav(const std::string& path, std::span<const int16_t> pcm, int32_t channels,
              int32_t sampleRate);

}  // namespace wl::test
