// TMP3Info: where the audio bytes of a file lie inside MacBinary and RIFF
// wrappers and behind its ID3v2 tags, the texts of its ID3v1, ID3v2 and RIFF
// LIST INFO tags, and the gapless and loudness values of its ID3v2 tags, read
// through the player's stream reader.
//
// Failures in info: a damaged, truncated or missing tag is not an error; its
// values stay empty (or keep what an earlier tag gave) and the audio is found
// behind it by the tag's own size. Only the stream's own read and seek
// failures propagate, as the io layer's EMP3Error.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decoder/flag_set.h"
#include "io/stream_reader.h"
#include "info/id3v2_frames.h"

namespace wl {

enum TMP3InfoKind : uint8_t { mitID3V1 = 0, mitID3V2 = 1, mitRiff = 2, mitMacBin = 3, mitLyrics = 4 };

// A set of TMP3InfoKind members (bit k = member k).
using TMP3InfoType = TFlagSet<TMP3InfoKind, 5>;

class TMP3Info {
public:
    // Audio length (and RIFF data size) when not known.
    static constexpr int64_t kUnknownLength = 2147483647;

    TMP3Info() = default;

    // Forgets the file: no reader, nothing found, audio from 0 with unknown
    // length, all lists empty.
    void Reset();
    // Reset, then read through `reader` (not owned; opened at the file's start).
    void Attach(TMPStreamReader* reader);

    // From the reader's position: MacBinary header, RIFF "data" chunk, ID3v2
    // tags (every one that directly follows another; a damaged tag is still
    // skipped by its header's size). Answers whether a byte follows. Never
    // raises on bad data; read errors of the source propagate.
    bool AnalyzeHead();
    // RIFF LIST INFO and ID3v1; completes an unknown audio length.
    void AnalyzeTail();

    TMP3InfoType Found() const { return found_; }
    int64_t AudioStart() const { return audioStart_; }
    int64_t AudioLength() const { return audioLength_; }
    int64_t MacBinaryDataEnd() const { return macBinDataEnd_; }
    int64_t RiffDataStart() const { return riffDataStart_; }
    int64_t RiffDataSize() const { return riffDataSize_; }

    // Lines "key=value" (UTF-8). ID3v2 lines are keyed by the frame identifier
    // (2.2 ones under their later names), in tag and frame order; a user text
    // (TXXX) with a description shows "description: value".
    const std::vector<std::string>& ID3v1List() const { return id3v1_; }
    const std::vector<std::string>& ID3v2List() const { return id3v2_; }
    const std::vector<std::string>& RiffList() const { return riff_; }

    TMP3InfoType NeedInfoType() const { return needInfoType_; }
    void SetNeedInfoType(TMP3InfoType value) { needInfoType_ = value; }

    // The longest of the candidates from the sources in NeedInfoType, in the
    // order ID3v1, ID3v2, RIFF (the earlier wins a tie; length in UTF-8 bytes).
    std::string Album() const;
    std::string Artist() const;
    std::string Comment() const;
    std::string Genre() const;
    std::string Title() const;
    std::string Track() const;
    std::string Year() const;

    // Encoder delay, padding and the music's length in samples per channel,
    // from an "iTunSMPB" comment or user text (the first one that parses).
    const TGaplessInfo& TagGapless() const { return gapless_; }
    // ReplayGain from the user texts REPLAYGAIN_TRACK_GAIN, _TRACK_PEAK,
    // _ALBUM_GAIN and _ALBUM_PEAK, each falling back to the "track" or "album"
    // RVA2 frame's master volume. Gains in dB, peaks linear (1.0 = full scale).
    TReplayGain ReplayGain() const;

    // The value of the first line of `list` whose key equals `key` regardless
    // of ASCII case; empty when there is none.
    static std::string Lookup(const std::vector<std::string>& list, std::string_view key);

private:
    void AnalyzeMacBinary();
    void AnalyzeRiffHead();
    bool AnalyzeID3v2();
    void ReadID3v2Tag(int64_t start, int major, uint8_t flags, int64_t size);
    void ReadID3v2Frames(TMPStreamReader& r, int64_t end, int major, bool unsynchronised);
    void NoteFrame(const std::string& id, const TID3v2FrameText& text, std::span<const uint8_t> body);
    bool FindRiffChunk(const char* id, const char* form);
    void ReadRiffInfo();
    void AnalyzeID3v1();
    std::string ChooseKeys(std::string_view v1Key, std::string_view v2Key,
                       std::string_view riffKey) const;
    std::string ChooseValues(const std::string& v1, const std::string& v2, const std::string& riff) const;

    TMPStreamReader* reader_ = nullptr;
    TMP3InfoType found_;
    int64_t audioStart_ = 0;
    int64_t audioLength_ = kUnknownLength;
    int64_t macBinDataEnd_ = 0;
    int64_t riffDataStart_ = 0;
    int64_t riffDataSize_ = kUnknownLength;
    std::vector<std::string> riff_;
    std::vector<std::string> id3v1_;
    std::vector<std::string> id3v2_;
    // The ID3v2 comment: the first one without a description, else the first
    // one whose description is not a machine-written kind.
    std::optional<std::string> plainComment_;
    std::optional<std::string> describedComment_;
    TGaplessInfo gapless_;
    TReplayGain gainFromText_;
    TReplayGain gainFromRva2_;
    TMP3InfoType needInfoType_{mitID3V1, mitID3V2, mitRiff};
};

// A genre text as tags hold it ("17", "(17)", "(17)Rock", "Rock") made
// readable: numbers become names from the genre table.
std::string GenreText(std::string_view value);

}  // namespace wl
