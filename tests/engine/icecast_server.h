// A real streaming server for the radio tests: icecast2 on a free port of
// 127.0.0.1, fed by ezstream with a playlist of MP3 files, everything in a
// temporary folder of its own.
//
// What the server answers (http://127.0.0.1:PORT):
//   MOUNT              the stream: audio/mpeg with icy-name, icy-genre,
//                      icy-description and icy-br; asked for with
//                      "Icy-MetaData: 1", with the titles in-band every
//                      icy-metaint audio bytes
//   MOUNT.m3u          a one-line playlist: the mount's URL
//   MOUNT.xspf         an XSPF playlist: the mount's URL and current title
//   MOUNT.vclt         the same as Vorbis-comment-like lines
//   /status-json.xsl   the server's status (and the other pages of
//                      /usr/share/icecast2/web, copied into the web root)
//   /NAME              any file put there with PutWebFile (a .pls is sent
//                      as audio/x-scpls, an .m3u as audio/mpegurl: the
//                      types of /etc/mime.types)
//   anything else      404 (the mount too while no source feeds it)
//
// Titles: ezstream reads each file's ID3 tags and sends "ARTIST - TITLE"
// when the file begins; icecast puts it into the next metadata block of
// every listener, so a title change comes within about one metadata
// interval after the new file's first audio. A new listener gets the
// current title in its first metadata block. The stream carries each
// file's frames as they are (the LAME Info frame included, the ID3 tags
// left out), paced in real time; a new listener first gets a burst of the
// last burstSize bytes.
//
// The processes run in process groups of their own, each under a small
// guard process that ends them when the harness stops them or when the test
// program ends in any way (a crash included), so that none outlives a test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/test_support.h"

namespace wl::test {

struct TIcecastOptions {
    // The MP3 files streamed, in this order. Empty: three 3 s tracks made
    // with MakeTracks (titles TrackTitle(1..3)).
    std::vector<std::string> files;
    // Starts over after the last file; false: the source ends after it and
    // the mount goes away (listeners see the end of the stream).
    bool loop = true;
    std::string mount = "/radio.mp3";
    std::string stationName = "Wavelantern Test Radio";  // icy-name
    std::string genre = "Test tones";                    // icy-genre
    std::string description = "Tones for the tests";     // icy-description
    int32_t bitrateKbps = 128;  // icy-br as the source announces it
    // Bytes a new listener gets at once (icecast's own default is 64 KB,
    // four seconds of a 128 kbps stream).
    int32_t burstSize = 16000;
    int32_t metaInterval = 16000;  // icy-metaint: audio bytes between metadata blocks
};

// An answer of the server to a GET (HTTP/1.0: the server closes after it).
struct THttpReply {
    int status = 0;       // 0: no answer (error says why)
    std::string headers;  // the header lines, without the status line
    std::string body;
    std::string error;
    // The value of a header (name in any case), trimmed; empty when absent.
    std::string Header(std::string_view name) const;
};

// A TCP connection to 127.0.0.1:port whose reads give up after
// `readTimeout`; -1 on failure.
int ConnectLocal(int port, std::chrono::milliseconds readTimeout);

class TIcecastServer {
public:
    static constexpr const char* kSourcePassword = "wl-source";
    static constexpr const char* kAdminUser = "admin";
    static constexpr const char* kAdminPassword = "wl-admin";

    TIcecastServer();
    ~TIcecastServer() { Stop(); }
    TIcecastServer(const TIcecastServer&) = delete;
    TIcecastServer& operator=(const TIcecastServer&) = delete;

    // True when icecast2 and ezstream (and sox and lame, for the tracks) are
    // installed; else *why names what is missing.
    static bool Available(std::string* why);

    // Makes NAME in the server's folder: `seconds` of a sine at `hz`,
    // 44.1 kHz stereo, 128 kbps CBR, tagged (ID3v2, by lame) with the artist
    // and title. Its path; empty on failure (*why says why).
    std::string MakeTrack(const std::string& name, double seconds, double hz,
                          const std::string& artist, const std::string& title,
                          std::string* why = nullptr);
    // track1.mp3 .. trackCOUNT.mp3 tagged "Artist N" / "Title N", each at
    // its own pitch. Empty on failure.
    std::vector<std::string> MakeTracks(int count, double seconds, std::string* why = nullptr);
    // The title listeners get for track N of MakeTracks: "Artist N - Title N".
    static std::string TrackTitle(int n);

    // Starts icecast on a free port, then ezstream, and waits until the
    // mount answers with audio. False on failure: Error() says why, with the
    // tails of the logs. Call once.
    bool Start(const TIcecastOptions& options = {});
    const std::string& Error() const { return error_; }

    int Port() const { return port_; }
    // http://127.0.0.1:PORT + path (path begins with '/').
    std::string Url(const std::string& path) const;
    std::string MountUrl() const { return Url(options_.mount); }
    const TIcecastOptions& Options() const { return options_; }

    // Writes a file into the web root, served as /NAME (at any time; the
    // server reads it on each request).
    bool PutWebFile(const std::string& name, const std::string& text);
    // GET of `path` from this server: at most maxBody bytes of the body,
    // giving up after `limit`.
    THttpReply Get(const std::string& path, size_t maxBody = 1 << 20,
                   std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

    // Stops both programs: connections are refused on the port until
    // StartServerAgain.
    void StopServer();
    // Starts icecast again on the same port and a fresh ezstream (the
    // playlist begins again with its first file), and waits until the mount
    // is live. (ezstream 1.0.2 does not get back to a server that stayed
    // away over one of its reconnect attempts, so it is not left to retry.)
    bool StartServerAgain();
    // Stops both programs (the destructor does too); StartServerAgain may follow.
    void Stop();

    // Whether the source program still runs (false once a playlist without
    // loop has ended).
    bool SourceRunning();
    // The last lines of icecast's error log and of ezstream's output.
    std::string LogTail() const;
    const std::string& Folder() const { return dir_.path(); }

private:
    // A program running under its guard process.
    struct TChild {
        pid_t guard = -1;  // also the process group
        int lifeline = -1; // closing it makes the guard end the program
    };
    bool StartIcecast();
    bool StartEzstream();
    bool WaitForMount();
    bool Fail(const std::string& what);
    static bool Spawn(const std::vector<std::string>& args, const std::string& logPath,
                      TChild& child, std::string* why);
    static bool Running(TChild& child);
    static void End(TChild& child);

    TempDir dir_;
    TIcecastOptions options_;
    int port_ = 0;
    bool started_ = false;
    TChild icecast_;
    TChild ezstream_;
    std::string error_;
};

}  // namespace wl::test

// Skips the test when the server's programs are not installed.
#define REQUIRE_ICECAST()                                                              \
    do {                                                                               \
        std::string icecastMissing;                                                    \
        if (!::wl::test::TIcecastServer::Available(&icecastMissing))                   \
            GTEST_SKIP() << icecastMissing;                                            \
    } while (0)
