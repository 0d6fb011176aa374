// Wrapper and tag analysis of an arbitrary file through the stream reader.
#include "fuzz/harness.h"

#include <cstdint>
#include <span>

#include "io/file_stream.h"
#include "io/stream_reader.h"
#include "info/mp3_info.h"

namespace wl::fuzz {

void MediaInfoInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return;
    wl::TMemoryViewStream stream(std::span<const uint8_t>(data, size));
    wl::TMPStreamReader reader(65536);
    wl::TMP3Info info;
    try {
        reader.Open(&stream, true);
        info.Attach(&reader);
        info.SetNeedInfoType(wl::TMP3InfoType::FromBits(0x1F));
        if (info.AnalyzeHead()) reader.Seek(info.AudioStart(), wl::TSeekOrigin::soBeginning);
        info.AnalyzeTail();
        if (info.AudioStart() < 0 || info.AudioLength() < 0) __builtin_trap();
        (void)info.Title();
        (void)info.Artist();
        (void)info.Album();
        (void)info.Comment();
        (void)info.Genre();
        (void)info.Track();
        (void)info.Year();
    } catch (const wl::EMP3Error&) {
        // Read errors of the source are reported, not crashes.
    }
}

}  // namespace wl::fuzz
