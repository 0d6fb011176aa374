#include "tools/info_print.h"

#include <exception>
#include <optional>

#include "io/file_stream.h"
#include "io/stream_reader.h"
#include "info/mp3_info.h"

namespace wl::tools {

namespace {

std::string FoundText(TMP3InfoType found) {
    static constexpr std::pair<TMP3InfoKind, const char*> kNames[] = {
        {mitMacBin, "MacBinary"}, {mitRiff, "RIFF"}, {mitID3V2, "ID3v2"}, {mitID3V1, "ID3v1"}};
    std::string text;
    for (const auto& [kind, name] : kNames) {
        if (!found.Contains(kind)) continue;
        if (!text.empty()) text += ", ";
        text += name;
    }
    return text.empty() ? "nothing" : text;
}

// "-6.20 dB", "0.988000"; empty when absent.
std::string Number(const std::optional<double>& v, const char* format) {
    if (!v) return {};
    char text[64];
    std::snprintf(text, sizeof text, format, *v);
    return text;
}

void PrintList(std::FILE* out, const char* name, const std::vector<std::string>& list) {
    if (list.empty()) return;
    std::fprintf(out, "%s:\n", name);
    for (const auto& line : list) std::fprintf(out, "  %s\n", line.c_str());
}

}  // namespace

bool PrintMediaInfo(const std::string& path, std::FILE* out, std::string& error) {
    try {
        TFileStream stream(path);
        TMPStreamReader reader(65536);
        reader.Open(&stream);
        TMP3Info info;
        info.Attach(&reader);
        info.AnalyzeHead();
        info.AnalyzeTail();

        std::fprintf(out, "file:         %s\n", path.c_str());
        std::fprintf(out, "size:         %lld\n", static_cast<long long>(reader.Size()));
        std::fprintf(out, "found:        %s\n", FoundText(info.Found()).c_str());
        std::fprintf(out, "audio start:  %lld\n", static_cast<long long>(info.AudioStart()));
        std::fprintf(out, "audio length: %lld\n", static_cast<long long>(info.AudioLength()));
        const std::pair<const char*, std::string> values[] = {
            {"title", info.Title()},     {"artist", info.Artist()}, {"album", info.Album()},
            {"year", info.Year()},       {"comment", info.Comment()}, {"genre", info.Genre()},
            {"track", info.Track()}};
        for (const auto& [name, value] : values) {
            std::fprintf(out, "%-13s %s\n", (std::string(name) + ":").c_str(), value.c_str());
        }
        const TGaplessInfo& gapless = info.TagGapless();
        if (gapless.present) {
            std::fprintf(out, "gapless:      delay %d, padding %d, %lld samples\n", gapless.encoderDelay,
                         gapless.padding, static_cast<long long>(gapless.sampleCount));
        }
        const TReplayGain gain = info.ReplayGain();
        const std::pair<const char*, std::string> gains[] = {
            {"track gain", Number(gain.trackGainDb, "%+.2f dB")},
            {"track peak", Number(gain.trackPeak, "%.6f")},
            {"album gain", Number(gain.albumGainDb, "%+.2f dB")},
            {"album peak", Number(gain.albumPeak, "%.6f")}};
        for (const auto& [name, value] : gains) {
            if (!value.empty()) std::fprintf(out, "%-13s %s\n", (std::string(name) + ":").c_str(), value.c_str());
        }
        PrintList(out, "ID3v1", info.ID3v1List());
        PrintList(out, "ID3v2", info.ID3v2List());
        PrintList(out, "RIFF INFO", info.RiffList());
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace wl::tools
