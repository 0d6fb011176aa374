#include "tests/engine/icecast_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "tests/wait_until.h"

extern char** environ;

namespace wl::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kWebFiles = "/usr/share/icecast2/web";
constexpr const char* kAdminFiles = "/usr/share/icecast2/admin";
// Bounds for a loaded machine; each is normally reached within a second.
constexpr auto kListenLimit = 20s;
constexpr auto kMountLimit = 20s;

// The full path of a program on PATH; empty when there is none.
std::string ProgramPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path && *path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

std::string XmlEscape(const std::string& s) {
    std::string out;
    for (const char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

bool WriteText(const std::string& path, const std::string& text, mode_t mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out) return false;
    }
    return ::chmod(path.c_str(), mode) == 0;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The last `lines` lines of a text.
std::string Tail(const std::string& text, int lines) {
    size_t pos = text.size();
    if (pos > 0 && text[pos - 1] == '\n') --pos;
    while (pos > 0 && lines > 0) {
        pos = text.rfind('\n', pos - 1);
        if (pos == std::string::npos) return text;
        --lines;
    }
    return text.substr(lines > 0 ? 0 : pos + 1);
}

// A port of 127.0.0.1 nobody listens on just now; 0 on failure.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    ::close(fd);
    return port;
}

bool Accepts(int port) {
    const int fd = ConnectLocal(port, 1s);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool SendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string THttpReply::Header(std::string_view name) const {
    std::istringstream lines(headers);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t colon = line.find(':');
        if (colon != name.size()) continue;
        bool same = true;
        for (size_t i = 0; i < colon && same; ++i) {
            same = std::tolower(static_cast<unsigned char>(line[i])) ==
                   std::tolower(static_cast<unsigned char>(name[i]));
        }
        if (!same) continue;
        const size_t begin = line.find_first_not_of(" \t", colon + 1);
        const size_t end = line.find_last_not_of(" \t\r");
        return begin == std::string::npos || end < begin ? std::string{} : line.substr(begin, end - begin + 1);
    }
    return {};
}

int ConnectLocal(int port, std::chrono::milliseconds readTimeout) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(readTimeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>(readTimeout.count() % 1000 * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TIcecastServer::TIcecastServer() {
    if (dir_.path().empty()) return;
    std::error_code ec;
    fs::create_directories(dir_.File("web"), ec);
    fs::create_directories(dir_.File("log"), ec);
    // The status pages (status-json.xsl and the like) need the stock style sheets.
    if (fs::is_directory(kWebFiles, ec)) {
        fs::copy(kWebFiles, dir_.File("web"), fs::copy_options::recursive | fs::copy_options::skip_existing, ec);
    }
}

bool TIcecastServer::Available(std::string* why) {
    std::string missing;
    for (const char* program : {"icecast2", "ezstream", "sox", "lame"}) {
        if (ProgramPath(program).empty()) missing += std::string(missing.empty() ? "" : ", ") + program;
    }
    if (missing.empty()) return true;
    if (why) {
        *why = "not installed: " + missing +
               " (the streaming server tests need the Debian packages icecast2, ezstream, sox and lame)";
    }
    return false;
}

std::string TIcecastServer::MakeTrack(const std::string& name, double seconds, double hz,
                                      const std::string& artist, const std::string& title,
                                      std::string* why) {
    const std::string path = dir_.File(name);
    char signal[96];
    std::snprintf(signal, sizeof signal, "synth %.3f sine %.1f vol 0.5", seconds, hz);
    const std::string command = "sox -V1 -n -r 44100 -c 2 -b 16 -e signed -t raw - " + std::string(signal) +
                                " | lame --quiet -r -s 44.1 --bitwidth 16 --signed --little-endian --cbr -b 128"
                                " --id3v2-only --ta " + ShellQuote(artist) +
                                " --tt " + ShellQuote(title) + " - " + ShellQuote(path) + " 2>&1";
    const CommandResult result = RunCommand(command);
    std::error_code ec;
    // (The exit status is lame's: a short file tells of a failed sox.)
    const auto size = fs::file_size(path, ec);
    if (result.exitCode != 0 || ec || static_cast<double>(size) < seconds * 128000 / 8 * 0.9) {
        if (why) *why = "could not make " + path + " (exit " + std::to_string(result.exitCode) + "): " + result.output;
        return {};
    }
    return path;
}

std::vector<std::string> TIcecastServer::MakeTracks(int count, double seconds, std::string* why) {
    std::vector<std::string> files;
    for (int n = 1; n <= count; ++n) {
        const std::string file = MakeTrack("track" + std::to_string(n) + ".mp3", seconds, 220.0 * n,
                                           "Artist " + std::to_string(n), "Title " + std::to_string(n), why);
        if (file.empty()) return {};
        files.push_back(file);
    }
    return files;
}

std::string TIcecastServer::TrackTitle(int n) {
    return "Artist " + std::to_string(n) + " - Title " + std::to_string(n);
}

std::string TIcecastServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool TIcecastServer::PutWebFile(const std::string& name, const std::string& text) {
    return !dir_.path().empty() && WriteText(dir_.File("web/" + name), text, 0644);
}

THttpReply TIcecastServer::Get(const std::string& path, size_t maxBody, std::chrono::milliseconds limit) const {
    THttpReply reply;
    const auto end = std::chrono::steady_clock::now() + limit;
    const int fd = ConnectLocal(port_, 1s);
    if (fd < 0) {
        reply.error = "no connection to " + Url(path) + ": " + std::strerror(errno);
        return reply;
    }
    const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                                "\r\nUser-Agent: wl-tests\r\n\r\n";
    std::string data;
    bool closed = false;
    if (SendAll(fd, request)) {
        char buffer[8192];
        size_t headerEnd = std::string::npos;
        while (std::chrono::steady_clock::now() < end) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n == 0) {
                closed = true;
                break;
            }
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
                break;
            }
            data.append(buffer, static_cast<size_t>(n));
            if (headerEnd == std::string::npos) headerEnd = data.find("\r\n\r\n");
            if (headerEnd != std::string::npos && data.size() - headerEnd - 4 >= maxBody) break;
        }
        const size_t split = data.find("\r\n\r\n");
        if (split == std::string::npos) {
            reply.error = "no complete answer from " + Url(path);
        } else {
            const size_t lineEnd = data.find("\r\n");
            const std::string statusLine = data.substr(0, lineEnd);
            const size_t space = statusLine.find(' ');
            if (space != std::string::npos) reply.status = std::atoi(statusLine.c_str() + space + 1);
            reply.headers = lineEnd < split ? data.substr(lineEnd + 2, split - lineEnd) : std::string{};
            reply.body = data.substr(split + 4, maxBody);
            if (!closed && reply.body.size() < maxBody) reply.error = "the answer did not end in time";
        }
    } else {
        reply.error = "could not send the request to " + Url(path);
    }
    ::close(fd);
    return reply;
}

bool TIcecastServer::Fail(const std::string& what) {
    error_ = what + "\n" + LogTail();
    return false;
}

std::string TIcecastServer::LogTail() const {
    std::string out;
    for (const char* log : {"log/error.log", "icecast.out", "ezstream.log"}) {
        const std::string text = Tail(ReadText(dir_.File(log)), 15);
        if (!text.empty()) out += std::string("--- ") + log + " (last lines):\n" + text + "\n";
    }
    return out;
}

bool TIcecastServer::Start(const TIcecastOptions& options) {
    if (started_) return Fail("the streaming server was started already");
    if (dir_.path().empty()) return Fail("no temporary folder for the streaming server");
    started_ = true;
    options_ = options;
    std::string why;
    if (options_.files.empty()) {
        options_.files = MakeTracks(3, 3.0, &why);
        if (options_.files.empty()) return Fail(why);
    }
    std::string playlist;
    for (const std::string& file : options_.files) {
        if (!FileExists(file)) return Fail("no such file to stream: " + file);
        playlist += file + "\n";
    }
    if (!WriteText(dir_.File("playlist.m3u"), playlist, 0600)) return Fail("cannot write the playlist");

    if (::geteuid() == 0) {
        // Icecast refuses to run as root; it changes to nobody, which then
        // has to reach the web root and write the logs.
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody) return Fail("running as root, and there is no user nobody for icecast to change to");
        ::chmod(dir_.path().c_str(), 0755);
        ::chmod(dir_.File("web").c_str(), 0755);
        if (::chown(dir_.File("log").c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
            return Fail("cannot give the log folder to nobody: " + std::string(std::strerror(errno)));
        }
    }
    // The free port may be taken between the look and icecast's bind: a
    // server that ends at once is tried again on another port.
    bool up = false;
    for (int attempt = 0; attempt < 3 && !up; ++attempt) {
        port_ = FreePort();
        if (port_ == 0) return Fail("no free port on 127.0.0.1");
        up = StartIcecast();
        if (!up && Running(icecast_)) break;
    }
    return up && StartEzstream() && WaitForMount();
}

bool TIcecastServer::StartIcecast() {
    std::string user;
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        const group* group = nobody ? ::getgrgid(nobody->pw_gid) : nullptr;
        if (nobody && group) {
            user = "  <changeowner><user>" + XmlEscape(nobody->pw_name) + "</user><group>" +
                   XmlEscape(group->gr_name) + "</group></changeowner>\n";
        }
    }
    const std::string burst = std::to_string(options_.burstSize);
    const std::string queue = std::to_string(std::max(524288, 4 * options_.burstSize));
    std::error_code ec;
    const std::string admin = fs::is_directory(kAdminFiles, ec) ? kAdminFiles : dir_.File("web");
    const std::string config =
        "<icecast>\n"
        "  <location>Wavelantern tests</location>\n"
        "  <admin>tests@localhost</admin>\n"
        "  <hostname>127.0.0.1</hostname>\n"
        "  <limits>\n"
        "    <clients>50</clients>\n"
        "    <sources>4</sources>\n"
        "    <queue-size>" + queue + "</queue-size>\n"
        "    <client-timeout>30</client-timeout>\n"
        "    <header-timeout>15</header-timeout>\n"
        "    <source-timeout>10</source-timeout>\n"
        "    <burst-size>" + burst + "</burst-size>\n"
        "  </limits>\n"
        "  <authentication>\n"
        "    <source-password>" + std::string(kSourcePassword) + "</source-password>\n"
        "    <relay-password>" + std::string(kSourcePassword) + "</relay-password>\n"
        "    <admin-user>" + std::string(kAdminUser) + "</admin-user>\n"
        "    <admin-password>" + std::string(kAdminPassword) + "</admin-password>\n"
        "  </authentication>\n"
        "  <listen-socket>\n"
        "    <port>" + std::to_string(port_) + "</port>\n"
        "    <bind-address>127.0.0.1</bind-address>\n"
        "  </listen-socket>\n"
        "  <mount type=\"normal\">\n"
        "    <mount-name>" + XmlEscape(options_.mount) + "</mount-name>\n"
        "    <burst-size>" + burst + "</burst-size>\n"
        "    <mp3-metadata-interval>" + std::to_string(options_.metaInterval) + "</mp3-metadata-interval>\n"
        "  </mount>\n"
        "  <fileserve>1</fileserve>\n"
        "  <paths>\n"
        "    <basedir>" + XmlEscape(dir_.path()) + "</basedir>\n"
        "    <logdir>" + XmlEscape(dir_.File("log")) + "</logdir>\n"
        "    <webroot>" + XmlEscape(dir_.File("web")) + "</webroot>\n"
        "    <adminroot>" + XmlEscape(admin) + "</adminroot>\n"
        "  </paths>\n"
        "  <logging>\n"
        "    <accesslog>access.log</accesslog>\n"
        "    <errorlog>error.log</errorlog>\n"
        "    <loglevel>3</loglevel>\n"
        "    <logsize>100000</logsize>\n"
        "  </logging>\n"
        "  <security>\n"
        "    <chroot>0</chroot>\n" + user +
        "  </security>\n"
        "</icecast>\n";
    // Readable by the user icecast changes to (the passwords are for tests only).
    const std::string configPath = dir_.File("icecast.xml");
    if (!WriteText(configPath, config, 0644)) return Fail("cannot write " + configPath);

    std::string why;
    if (!Spawn({ProgramPath("icecast2"), "-c", configPath}, dir_.File("icecast.out"), icecast_, &why)) {
        return Fail(why);
    }
    const bool listening = WaitUntil([&] { return !Running(icecast_) || Accepts(port_); }, kListenLimit,
                                     [] { std::this_thread::sleep_for(20ms); });
    if (!Running(icecast_)) return Fail("icecast2 ended at once (port " + std::to_string(port_) + ")");
    if (!listening) {
        return Fail("icecast2 did not listen on port " + std::to_string(port_) + " within " +
                    std::to_string(kListenLimit.count()) + " s");
    }
    return true;
}

bool TIcecastServer::StartEzstream() {
    std::string stream =
        "      <mountpoint>" + XmlEscape(options_.mount) + "</mountpoint>\n"
        "      <format>MP3</format>\n"
        "      <public>No</public>\n"
        "      <stream_bitrate>" + std::to_string(options_.bitrateKbps) + "</stream_bitrate>\n"
        "      <stream_samplerate>44100</stream_samplerate>\n"
        "      <stream_channels>2</stream_channels>\n";
    if (!options_.stationName.empty()) stream += "      <stream_name>" + XmlEscape(options_.stationName) + "</stream_name>\n";
    if (!options_.genre.empty()) stream += "      <stream_genre>" + XmlEscape(options_.genre) + "</stream_genre>\n";
    if (!options_.description.empty()) {
        stream += "      <stream_description>" + XmlEscape(options_.description) + "</stream_description>\n";
    }
    // No metadata program: ezstream takes each file's artist and title from
    // its tags. Reconnecting is left to StartServerAgain.
    const std::string config =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<ezstream>\n"
        "  <servers>\n"
        "    <server>\n"
        "      <protocol>HTTP</protocol>\n"
        "      <hostname>127.0.0.1</hostname>\n"
        "      <port>" + std::to_string(port_) + "</port>\n"
        "      <user>source</user>\n"
        "      <password>" + std::string(kSourcePassword) + "</password>\n"
        "      <tls>None</tls>\n"
        "      <reconnect_attempts>1</reconnect_attempts>\n"
        "    </server>\n"
        "  </servers>\n"
        "  <streams>\n"
        "    <stream>\n" + stream +
        "    </stream>\n"
        "  </streams>\n"
        "  <intakes>\n"
        "    <intake>\n"
        "      <type>playlist</type>\n"
        "      <filename>" + XmlEscape(dir_.File("playlist.m3u")) + "</filename>\n"
        "      <shuffle>No</shuffle>\n"
        "      <stream_once>" + std::string(options_.loop ? "No" : "Yes") + "</stream_once>\n"
        "    </intake>\n"
        "  </intakes>\n"
        "</ezstream>\n";
    const std::string configPath = dir_.File("ezstream.xml");
    if (!WriteText(configPath, config, 0600)) return Fail("cannot write " + configPath);
    std::string why;
    if (!Spawn({ProgramPath("ezstream"), "-v", "-c", configPath}, dir_.File("ezstream.log"), ezstream_, &why)) {
        return Fail(why);
    }
    return true;
}

bool TIcecastServer::WaitForMount() {
    THttpReply last;
    const bool live = WaitUntil(
        [&] {
            if (!Running(icecast_) || !Running(ezstream_)) return true;
            last = Get(options_.mount, 0, 5s);
            return last.status == 200;
        },
        kMountLimit, [] { std::this_thread::sleep_for(50ms); });
    if (!Running(icecast_)) return Fail("icecast2 ended before the mount was live");
    if (!Running(ezstream_)) return Fail("ezstream ended before the mount was live");
    if (!live) {
        return Fail("the mount " + MountUrl() + " was not live within " + std::to_string(kMountLimit.count()) +
                    " s (last answer: " + std::to_string(last.status) + " " + last.error + ")");
    }
    if (last.Header("Content-Type") != "audio/mpeg") {
        return Fail("the mount answers " + last.Header("Content-Type") + ", not audio/mpeg");
    }
    return true;
}

void TIcecastServer::StopServer() {
    // Both at once: each takes a moment to end.
    if (icecast_.lifeline >= 0) ::close(std::exchange(icecast_.lifeline, -1));
    if (ezstream_.lifeline >= 0) ::close(std::exchange(ezstream_.lifeline, -1));
    End(icecast_);
    End(ezstream_);
}

bool TIcecastServer::StartServerAgain() {
    if (!started_ || port_ == 0) return Fail("the streaming server was never started");
    StopServer();
    error_.clear();
    return StartIcecast() && StartEzstream() && WaitForMount();
}

void TIcecastServer::Stop() { StopServer(); }

bool TIcecastServer::SourceRunning() { return Running(ezstream_); }

bool TIcecastServer::Spawn(const std::vector<std::string>& args, const std::string& logPath, TChild& child,
                           std::string* why) {
    if (args.empty() || args[0].empty()) {
        *why = "program not found";
        return false;
    }
    // Everything the children need is made before fork: after it, only
    // async-signal-safe calls.
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    int lifeline[2];
    if (::pipe2(lifeline, O_CLOEXEC) != 0) {
        *why = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        *why = std::string("fork: ") + std::strerror(errno);
        ::close(lifeline[0]);
        ::close(lifeline[1]);
        return false;
    }
    if (pid == 0) {
        // The guard: leads a process group of its own, with the program in
        // it, and ends the group when the lifeline closes (the harness
        // stopping it, or the test program ending however it ends).
        ::setpgid(0, 0);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        ::dup2(lifeline[0], 3);
        ::close_range(4, ~0U, 0);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGTERM, &ignore, nullptr);
        ::sigaction(SIGINT, &ignore, nullptr);
        ::sigaction(SIGHUP, &ignore, nullptr);
        const pid_t program = ::fork();
        if (program < 0) ::_exit(126);
        if (program == 0) {
            struct sigaction defaults {};
            defaults.sa_handler = SIG_DFL;
            ::sigaction(SIGTERM, &defaults, nullptr);
            ::sigaction(SIGINT, &defaults, nullptr);
            ::sigaction(SIGHUP, &defaults, nullptr);
            sigset_t none;
            ::sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::close(3);
            const int null = ::open("/dev/null", O_RDONLY);
            if (null >= 0) ::dup2(null, 0);
            if (null > 0) ::close(null);
            ::execve(argv[0], argv.data(), environ);
            ::_exit(127);
        }
        const auto exitCode = [](int status) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        };
        for (;;) {
            pollfd line{3, POLLIN, 0};
            const int ready = ::poll(&line, 1, 50);
            int status = 0;
            if (::waitpid(program, &status, WNOHANG) == program) ::_exit(exitCode(status));
            if (ready > 0) break;
        }
        // SIGTERM to the group (the guard ignores it); what is left after
        // 10 s is killed.
        ::kill(0, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            int status = 0;
            if (::waitpid(program, &status, WNOHANG) == program) ::_exit(exitCode(status));
            ::poll(nullptr, 0, 50);
        }
        ::kill(0, SIGKILL);
        ::_exit(137);
    }
    ::setpgid(pid, pid);  // (also in the child: whichever runs first)
    ::close(lifeline[0]);
    child.guard = pid;
    child.lifeline = lifeline[1];
    return true;
}

bool TIcecastServer::Running(TChild& child) {
    if (child.guard <= 0) return false;
    int status;
    if (::waitpid(child.guard, &status, WNOHANG) != child.guard) return true;
    child.guard = -1;
    if (child.lifeline >= 0) ::close(std::exchange(child.lifeline, -1));
    return false;
}

void TIcecastServer::End(TChild& child) {
    if (child.lifeline >= 0) ::close(std::exchange(child.lifeline, -1));
    if (child.guard <= 0) return;
    int status;
    const bool ended = WaitUntil([&] { return ::waitpid(child.guard, &status, WNOHANG) == child.guard; }, 15s,
                                 [] { std::this_thread::sleep_for(10ms); });
    if (!ended) {
        ::kill(-child.guard, SIGKILL);
        ::waitpid(child.guard, &status, 0);
    }
    child.guard = -1;
}

}  // namespace wl::test
