#include "engine/http_source.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "decoder/frame_header.h"
#include "engine/icy.h"
#include "info/text_encoding.h"

namespace wl {

namespace {

using Clock = std::chrono::steady_clock;

// More header than this is a server gone wrong, not a station.
constexpr size_t kMaxHeaderBytes = 64 * 1024;
constexpr long kMaxRedirects = 5;
// The ring's room ahead of the reader: bufferSeconds of the bitrate, within these.
constexpr int64_t kUnknownBitrateCapacity = int64_t{2} << 20;
constexpr int64_t kMinCapacity = int64_t{256} << 10;
constexpr int64_t kMaxCapacity = int64_t{32} << 20;
// Bitrates beyond this are a header's mistake.
constexpr int32_t kMaxBitrateKbps = 4000;
constexpr int32_t kMaxMetaInterval = 1 << 24;
// The pre-buffer: about a second of audio, within these.
constexpr int64_t kMinPrebuffer = 8 * 1024;
constexpr int64_t kMaxPrebuffer = 64 * 1024;
// The transfer loop looks at the clock (stalls) at least this often; stopping
// and restarting wake it at once.
constexpr int kPollMs = 100;
constexpr auto kRoomWait = std::chrono::milliseconds(50);

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string SizeText(int64_t bytes) {
    if (bytes >= (1 << 20) && bytes % (1 << 20) == 0) return std::to_string(bytes >> 20) + " MB";
    if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KB";
    return std::to_string(bytes) + " bytes";
}

// "2 s", "0.4 s".
std::string SecondsText(int64_t ms) {
    if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
    return std::to_string(ms / 1000) + "." + std::to_string((ms % 1000) / 100) + " s";
}

std::string StandardReason(int code) {
    switch (code) {
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 410: return "Gone";
        case 500: return "Internal Server Error";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        case 504: return "Gateway Timeout";
        default: return {};
    }
}

// The leading decimal number of a header value (0 when there is none).
int64_t LeadingNumber(std::string_view value, int64_t limit) {
    int64_t n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') break;
        n = n * 10 + (c - '0');
        if (n > limit) return 0;
    }
    return n;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string Lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

}  // namespace

// One connection's state, touched by the source's thread only.
struct THttpSource::TConnection {
    enum class TBody : uint8_t { Start, IcyHead, Sniff, Audio, List };

    explicit TConnection(THttpSource* s) : source(s) {}
    ~TConnection() {
        if (easy != nullptr) curl_easy_cleanup(easy);
        curl_slist_free_all(requestHeaders);
        curl_slist_free_all(aliases);
    }
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // Gives the connection up with this outcome (the first reason counts).
    void Abort(TOutcome outcome, std::string text = {}, TLiveState final = TLiveState::Failed) {
        if (abort) return;
        abort = outcome;
        problem = std::move(text);
        finalState = final;
    }

    static size_t WriteCallback(char* data, size_t size, size_t count, void* user) {
        auto* c = static_cast<TConnection*>(user);
        try {
            return c->source->OnBody(*c, reinterpret_cast<const uint8_t*>(data), size * count);
        } catch (const std::exception& e) {
            c->Abort(TOutcome::Retry, e.what());
            return 0;
        }
    }

    static size_t HeaderCallback(char* data, size_t size, size_t count, void* user) {
        auto* c = static_cast<TConnection*>(user);
        const size_t total = size * count;
        c->lastByte = Clock::now();
        if (c->body != TBody::Start) return total;  // trailers
        c->headerBytes += total;
        if (c->headerBytes > kMaxHeaderBytes) {
            c->Abort(TOutcome::Final, "the server's header is longer than " + SizeText(kMaxHeaderBytes));
            return 0;
        }
        std::string_view line(data, total);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        try {
            return c->source->OnHeaderLine(*c, line) ? total : 0;
        } catch (const std::exception& e) {
            c->Abort(TOutcome::Retry, e.what());
            return 0;
        }
    }

    THttpSource* source;
    uint64_t generation = 0;
    CURL* easy = nullptr;
    curl_slist* requestHeaders = nullptr;
    curl_slist* aliases = nullptr;
    char errorText[CURL_ERROR_SIZE] = {};
    Clock::time_point lastByte = Clock::now();

    // The answer being read (after redirects: the last one).
    bool statusSeen = false;
    int status = 0;
    std::string reason;
    bool headersDone = false;
    size_t headerBytes = 0;
    std::string location;
    std::vector<std::string> locations;  // redirects followed
    TStationFacts facts;

    TBody body = TBody::Start;
    std::string icyHead;         // an ICY header at the start of the body
    std::vector<uint8_t> sniff;  // audio bytes before the kind is known
    std::string list;
    TIcySplitter splitter;
    std::vector<TLiveTitle> pendingTitles;  // positions within the connection
    bool delivering = false;
    int64_t base = 0;       // the audio position of the connection's first byte
    int64_t delivered = 0;  // audio bytes into the ring

    std::optional<TOutcome> abort;
    std::string problem;  // why it failed or is retried (without the URL)
    TLiveState finalState = TLiveState::Failed;
};

THttpSource::THttpSource(std::string url, THttpOptions options) : url_(std::move(url)), options_(std::move(options)) {
    stateText_ = "Connecting to " + url_ + "…";
}

THttpSource::~THttpSource() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        if (multi_ != nullptr) curl_multi_wakeup(multi_);
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
}

void THttpSource::Start() {
    if (thread_.joinable()) return;
    thread_ = std::thread([this] { Run(); });
}

void THttpSource::Restart() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++generation_;
        const int64_t start = std::clamp(position_, HeldFrom(), frontier_);
        while (!breaks_.empty() && breaks_.back() >= start) breaks_.pop_back();
        if (start > 0) breaks_.push_back(start);
        frontier_ = floor_ = readMark_ = start;
        std::erase_if(titles_, [start](const TLiveTitle& t) { return t.position >= start; });
        lastTitle_.reset();
        listBody_.clear();
        error_.clear();
        state_ = TLiveState::Connecting;
        stateText_ = "Connecting to " + url_ + "…";
        if (multi_ != nullptr) curl_multi_wakeup(multi_);
    }
    cv_.notify_all();
}

// ---------------------------------------------------------------- the thread

void THttpSource::Run() {
    // The library's set-up (TLS included) happens here, not on the caller's thread.
    GlobalInit();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        multi_ = curl_multi_init();
        if (multi_ == nullptr) {
            error_ = url_ + ": the network library could not start";
            SetState(TLiveState::Failed, {});
            return;
        }
    }
    size_t attempt = 0;
    // When the attempts began to fail (min: they do not).
    Clock::time_point failingSince = Clock::time_point::min();
    // A station that never sent audio is not waited for: a wrong address or
    // a server that is down is told at once.
    bool everStreamed = false;
    for (;;) {
        uint64_t generation = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) return;
            generation = generation_;
        }
        TOutcome outcome;
        std::string problem;
        {
            TConnection c(this);
            outcome = Transfer(generation, c);
            problem = c.problem;
            if (outcome == TOutcome::Final) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (generation == generation_) {
                        if (c.finalState == TLiveState::List) listBody_ = std::move(c.list);
                        if (c.finalState == TLiveState::Failed) error_ = url_ + ": " + c.problem;
                        SetState(c.finalState, {});
                    }
                }
                Notify();
            }
            if (c.delivered > 0) everStreamed = true;
            if (outcome == TOutcome::Retry && !everStreamed) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (generation == generation_) {
                    error_ = url_ + ": " + (problem.empty() ? std::string("the station cannot be reached") : problem);
                    SetState(TLiveState::Failed, {});
                }
                outcome = TOutcome::Final;
            }
            // An attempt that played a while starts the back-off afresh.
            if (outcome == TOutcome::Retry && c.delivered >= PrebufferBytes()) {
                attempt = 0;
                failingSince = Clock::time_point::min();
            }
        }  // the connection is closed here, before any wait

        if (outcome == TOutcome::Stop) return;
        if (outcome == TOutcome::Final || outcome == TOutcome::Restart) {
            attempt = 0;
            failingSince = Clock::time_point::min();
            if (outcome == TOutcome::Final) {
                Notify();
                WaitOrWake(generation, -1);
            }
            continue;
        }

        const auto now = Clock::now();
        if (failingSince == Clock::time_point::min()) failingSince = now;
        const auto failing = std::chrono::duration_cast<std::chrono::milliseconds>(now - failingSince).count();
        if (failing >= options_.giveUpMs) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (generation == generation_) {
                    error_ = url_ + ": no connection for " + SecondsText(failing / 100 * 100) + ", giving up (" +
                             problem + ")";
                    SetState(TLiveState::Failed, {});
                }
            }
            Notify();
            WaitOrWake(generation, -1);
            attempt = 0;
            failingSince = Clock::time_point::min();
            continue;
        }
        const auto& backoff = options_.backoffMs;
        const int32_t delay = backoff.empty() ? 1000 : backoff[std::min(attempt, backoff.size() - 1)];
        ++attempt;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (generation == generation_) {
                SetState(TLiveState::Reconnecting, "Reconnecting in " + SecondsText(delay) + " (attempt " +
                                                       std::to_string(attempt) + "): " + problem);
            }
        }
        Notify();
        if (WaitOrWake(generation, delay)) {
            attempt = 0;
            failingSince = Clock::time_point::min();
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (generation == generation_) {
            SetState(TLiveState::Reconnecting, "Reconnecting (attempt " + std::to_string(attempt) + "): " + problem);
        }
    }
}

THttpSource::TOutcome THttpSource::Transfer(uint64_t generation, TConnection& c) {
    c.generation = generation;
    c.easy = curl_easy_init();
    if (c.easy == nullptr) {
        c.Abort(TOutcome::Retry, "the network library could not start a transfer");
        return TOutcome::Retry;
    }
    CURL* e = c.easy;
    c.requestHeaders = curl_slist_append(nullptr, "Icy-MetaData: 1");
    c.aliases = curl_slist_append(nullptr, "ICY 200 OK");
    curl_easy_setopt(e, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // Closing must not wait for a name lookup that hangs.
    curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_HTTP09_ALLOWED, 1L);
    curl_easy_setopt(e, CURLOPT_HTTP200ALIASES, c.aliases);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, c.requestHeaders);
    curl_easy_setopt(e, CURLOPT_USERAGENT, options_.userAgent.c_str());
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.connectTimeoutMs));
    curl_easy_setopt(e, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, c.errorText);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &TConnection::WriteCallback);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &c);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &TConnection::HeaderCallback);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &c);

    CURLM* multi = static_cast<CURLM*>(multi_);
    c.lastByte = Clock::now();
    curl_multi_add_handle(multi, e);
    int result = -1;
    for (;;) {
        int running = 0;
        curl_multi_perform(multi, &running);
        int queued = 0;
        while (CURLMsg* m = curl_multi_info_read(multi, &queued)) {
            if (m->msg == CURLMSG_DONE) result = m->data.result;
        }
        if (result >= 0 || c.abort) break;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) c.Abort(TOutcome::Stop);
            if (generation_ != generation) c.Abort(TOutcome::Restart);
        }
        if (c.abort) break;
        if (Clock::now() - c.lastByte > std::chrono::milliseconds(options_.stallMs)) {
            c.Abort(TOutcome::Retry, "no data for " + SecondsText(options_.stallMs));
            break;
        }
        curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
    }
    curl_multi_remove_handle(multi, e);
    return Classify(c, result);
}

THttpSource::TOutcome THttpSource::Classify(TConnection& c, int curlResult) {
    if (c.abort) return *c.abort;
    const auto code = static_cast<CURLcode>(curlResult);
    if (code == CURLE_OK) {
        using TBody = TConnection::TBody;
        if (c.body == TBody::IcyHead) {
            // A short HTTP/0.9 body, or an ICY header that never ended.
            if (StartsWithNoCase(c.icyHead, "ICY ")) {
                c.Abort(TOutcome::Final, "the server's answer ended inside its header");
                return *c.abort;
            }
            c.body = TBody::Sniff;
            const std::string head = std::move(c.icyHead);
            OnAudio(c, {reinterpret_cast<const uint8_t*>(head.data()), head.size()});
        }
        if (!c.abort && c.body == TBody::Sniff && !c.sniff.empty()) Decide(c, true);
        if (c.abort) return *c.abort;
        curl_off_t length = -1;
        curl_easy_getinfo(c.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (c.body == TBody::List) {
            c.finalState = TLiveState::List;
            return TOutcome::Final;
        }
        if (c.body == TBody::Audio && length >= 0) {
            c.finalState = TLiveState::Ended;
            return TOutcome::Final;
        }
        if (c.body == TBody::Start || c.body == TBody::Sniff) {
            c.Abort(length >= 0 ? TOutcome::Final : TOutcome::Retry, "the server sent no data");
            return *c.abort;
        }
        c.problem = "the station closed the connection";
        return TOutcome::Retry;
    }
    c.problem = c.errorText[0] != '\0' ? std::string(c.errorText) : std::string(curl_easy_strerror(code));
    switch (code) {
        case CURLE_TOO_MANY_REDIRECTS:
            c.problem = "the server redirects more than " + std::to_string(kMaxRedirects) + " times";
            c.finalState = TLiveState::Failed;
            return TOutcome::Final;
        case CURLE_UNSUPPORTED_PROTOCOL:
            c.problem = "only http:// and https:// addresses can be played";
            c.finalState = TLiveState::Failed;
            return TOutcome::Final;
        case CURLE_URL_MALFORMAT:
            c.problem = "this is not a valid address";
            c.finalState = TLiveState::Failed;
            return TOutcome::Final;
        case CURLE_NOT_BUILT_IN:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_OUT_OF_MEMORY:  // a header line too long for the library
            c.finalState = TLiveState::Failed;
            return TOutcome::Final;
        default:
            return TOutcome::Retry;
    }
}

bool THttpSource::OnHeaderLine(TConnection& c, std::string_view line) {
    if (line.starts_with("HTTP/") || StartsWithNoCase(line, "ICY ")) {
        // A new answer (the first, or the one after a redirect).
        c.statusSeen = true;
        c.headersDone = false;
        c.location.clear();
        c.facts = {};
        std::string_view rest = line.substr(std::min(line.find(' '), line.size()));
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        c.status = static_cast<int>(LeadingNumber(rest.substr(0, 3), 999));
        rest.remove_prefix(std::min<size_t>(3, rest.size()));
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        c.reason = DecodeStationText(rest, options_.codePage);
        return true;
    }
    if (line.empty()) return OnHeadersEnd(c);
    std::string_view name, value;
    if (!SplitHeaderLine(line, name, value)) return true;
    if (EqualsNoCase(name, "location")) {
        c.location = value;
    } else if (EqualsNoCase(name, "content-type")) {
        c.facts.contentType = Lowered(value);
    } else if (EqualsNoCase(name, "icy-name")) {
        c.facts.name = DecodeStationText(value, options_.codePage);
    } else if (EqualsNoCase(name, "icy-genre")) {
        c.facts.genre = DecodeStationText(value, options_.codePage);
    } else if (EqualsNoCase(name, "icy-description")) {
        c.facts.description = DecodeStationText(value, options_.codePage);
    } else if (EqualsNoCase(name, "icy-br")) {
        c.facts.bitrateKbps = static_cast<int32_t>(LeadingNumber(value, kMaxBitrateKbps));
    } else if (EqualsNoCase(name, "icy-metaint")) {
        c.facts.metaInterval = static_cast<int32_t>(LeadingNumber(value, kMaxMetaInterval));
    }
    return true;
}

bool THttpSource::OnHeadersEnd(TConnection& c) {
    if (!c.statusSeen) return true;
    const int code = c.status;
    if (code >= 100 && code < 200) return true;  // an interim answer; the real one follows
    if (code >= 300 && code < 400 && !c.location.empty()) {
        if (std::find(c.locations.begin(), c.locations.end(), c.location) != c.locations.end()) {
            c.Abort(TOutcome::Final, "the server redirects in a loop (to " + c.location + " again)");
            return false;
        }
        c.locations.push_back(c.location);
        return true;  // followed
    }
    const std::string reason = c.reason.empty() ? StandardReason(code) : c.reason;
    const std::string answer = "the server answered " + std::to_string(code) + (reason.empty() ? "" : " " + reason);
    if (code >= 500) {
        c.Abort(TOutcome::Retry, answer);
        return false;
    }
    if (code >= 400) {
        c.Abort(TOutcome::Final, answer);
        return false;
    }
    if (code < 200 || code >= 300) {
        c.Abort(TOutcome::Final, answer + " without a new address");
        return false;
    }
    c.headersDone = true;
    const char* effective = nullptr;
    curl_easy_getinfo(c.easy, CURLINFO_EFFECTIVE_URL, &effective);
    c.facts.url = effective != nullptr ? effective : url_;
    c.splitter.Reset(c.facts.metaInterval);
    std::lock_guard<std::mutex> lock(mutex_);
    if (c.generation == generation_) facts_ = c.facts;
    return true;
}

size_t THttpSource::OnBody(TConnection& c, const uint8_t* data, size_t size) {
    using TBody = TConnection::TBody;
    c.lastByte = Clock::now();
    if (c.abort) return 0;
    if (c.body == TBody::Start) {
        if (c.statusSeen && !c.headersDone) {
            c.Abort(TOutcome::Final, "the server answered " + std::to_string(c.status) + " " + c.reason);
            return 0;
        }
        // No header at all: HTTP/0.9, or an old server's ICY header that the
        // library took for the body.
        c.body = c.headersDone ? TBody::Sniff : TBody::IcyHead;
    }
    std::span<const uint8_t> bytes(data, size);
    std::string rest;
    if (c.body == TBody::IcyHead) {
        c.icyHead.append(reinterpret_cast<const char*>(data), size);
        if (c.icyHead.size() < 4) return size;
        if (!StartsWithNoCase(c.icyHead, "ICY ")) {
            rest = std::move(c.icyHead);
        } else {
            // The blank line ends it (CR LF or bare LF line ends).
            const size_t crlf = c.icyHead.find("\r\n\r\n");
            const size_t lf = c.icyHead.find("\n\n");
            const size_t end = std::min(crlf == std::string::npos ? crlf : crlf + 4,
                                        lf == std::string::npos ? lf : lf + 2);
            if (end == std::string::npos) {
                if (c.icyHead.size() <= kMaxHeaderBytes) return size;
                c.Abort(TOutcome::Final, "the server's header is longer than " + SizeText(kMaxHeaderBytes));
                return 0;
            }
            std::string_view head(c.icyHead.data(), end);
            size_t at = 0;
            while (at < head.size()) {
                size_t eol = head.find('\n', at);
                if (eol == std::string_view::npos) eol = head.size();
                std::string_view line = head.substr(at, eol - at);
                if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
                at = eol + 1;
                if (line.empty()) break;
                if (!OnHeaderLine(c, line)) return 0;
            }
            if (!OnHeadersEnd(c)) return 0;
            if (!c.headersDone) {
                c.Abort(TOutcome::Final, "the server answered " + std::to_string(c.status) + " " + c.reason);
                return 0;
            }
            rest = c.icyHead.substr(end);
        }
        c.icyHead.clear();
        c.body = TBody::Sniff;
        if (!c.headersDone) {
            // HTTP/0.9: nothing known but the address.
            c.facts.url = url_;
            std::lock_guard<std::mutex> lock(mutex_);
            if (c.generation == generation_) facts_ = c.facts;
        }
        bytes = {reinterpret_cast<const uint8_t*>(rest.data()), rest.size()};
    }
    const bool fed = c.splitter.Feed(
        bytes, [this, &c](std::span<const uint8_t> audio) { return OnAudio(c, audio); },
        [this, &c](std::string_view block, int64_t position) { return OnBlock(c, block, position); });
    return fed ? size : 0;
}

bool THttpSource::OnAudio(TConnection& c, std::span<const uint8_t> audio) {
    using TBody = TConnection::TBody;
    switch (c.body) {
        case TBody::Sniff:
            c.sniff.insert(c.sniff.end(), audio.begin(), audio.end());
            return Decide(c, false);
        case TBody::Audio:
            return Deliver(c, audio);
        case TBody::List:
            c.list.append(reinterpret_cast<const char*>(audio.data()), audio.size());
            if (static_cast<int64_t>(c.list.size()) > options_.maxListBytes) {
                c.Abort(TOutcome::Final, "the station list is larger than " + SizeText(options_.maxListBytes));
                return false;
            }
            return true;
        default:
            return false;
    }
}

bool THttpSource::Decide(TConnection& c, bool wholeBody) {
    using TBody = TConnection::TBody;
    switch (SniffAudio(c.facts.contentType, c.sniff, wholeBody)) {
        case TStreamKind::Undecided:
            return true;
        case TStreamKind::Mpeg: {
            TMPEGFrameHeader header{};
            int32_t bitrate = 0, offset = 0;
            if (c.sniff.size() >= 4) {
                FindFrame(c.sniff.data(), static_cast<int32_t>(std::min<size_t>(c.sniff.size(), 1 << 20)), header,
                          bitrate, offset);
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                frameBitrateKbps_ = std::clamp(bitrate / 1000, 0, kMaxBitrateKbps);
            }
            c.body = TBody::Audio;
            const std::vector<uint8_t> first = std::move(c.sniff);
            c.sniff.clear();
            return Deliver(c, first);
        }
        case TStreamKind::List: {
            c.body = TBody::List;
            const std::vector<uint8_t> first = std::move(c.sniff);
            c.sniff.clear();
            return OnAudio(c, first);
        }
        case TStreamKind::Aac:
            c.Abort(TOutcome::Final, "the station sends AAC audio, which Wavelantern does not play");
            return false;
        case TStreamKind::Ogg:
            c.Abort(TOutcome::Final, "the station sends Ogg audio, which Wavelantern does not play");
            return false;
        case TStreamKind::Html:
            c.Abort(TOutcome::Final, "the server sent a web page, not audio");
            return false;
        case TStreamKind::Other:
            break;
    }
    const std::string type = BareContentType(c.facts.contentType);
    c.Abort(TOutcome::Final, type.empty() ? std::string("the server sent no MPEG audio")
                                          : "the server sent " + type + ", not MPEG audio");
    return false;
}

bool THttpSource::Deliver(TConnection& c, std::span<const uint8_t> audio) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool streaming = false;
    if (!c.delivering) {
        if (c.generation != generation_) {
            c.Abort(TOutcome::Restart);
            return false;
        }
        c.delivering = true;
        // A new connection's bytes do not continue the old ones.
        if (frontier_ > 0 && (breaks_.empty() || breaks_.back() != frontier_)) breaks_.push_back(frontier_);
        c.base = frontier_;
        if (ring_.empty()) {
            const int32_t kbps = facts_.bitrateKbps > 0 ? facts_.bitrateKbps : frameBitrateKbps_;
            capacity_ = kbps > 0 ? std::clamp<int64_t>(int64_t{options_.bufferSeconds} * kbps * 125, kMinCapacity,
                                                       kMaxCapacity)
                                 : kUnknownBitrateCapacity;
            ring_.assign(static_cast<size_t>(capacity_ + std::max(options_.windowBytes, 0)), 0);
        }
        for (TLiveTitle& t : c.pendingTitles) QueueTitle(c, std::move(t.title), t.position);
        c.pendingTitles.clear();
        SetState(TLiveState::Streaming, {});
        streaming = true;
    }
    const auto ringSize = static_cast<int64_t>(ring_.size());
    size_t done = 0;
    while (done < audio.size()) {
        if (stop_) c.Abort(TOutcome::Stop);
        if (c.generation != generation_) c.Abort(TOutcome::Restart);
        if (c.abort) return false;
        const int64_t room = capacity_ - std::max<int64_t>(0, frontier_ - readMark_);
        if (room <= 0) {
            // Full: the transfer waits for the reader (the server sees a
            // slow client, not a closed one).
            if (streaming) {
                lock.unlock();
                Notify();
                lock.lock();
                streaming = false;
            }
            cv_.wait_for(lock, kRoomWait);
            c.lastByte = Clock::now();
            continue;
        }
        const size_t n = static_cast<size_t>(std::min<int64_t>(room, static_cast<int64_t>(audio.size() - done)));
        const auto at = static_cast<size_t>(frontier_ % ringSize);
        const size_t first = std::min(n, static_cast<size_t>(ringSize) - at);
        std::memcpy(ring_.data() + at, audio.data() + done, first);
        std::memcpy(ring_.data(), audio.data() + done + first, n - first);
        frontier_ += static_cast<int64_t>(n);
        done += n;
    }
    c.delivered += static_cast<int64_t>(audio.size());
    lock.unlock();
    Notify();
    return true;
}

bool THttpSource::OnBlock(TConnection& c, std::string_view block, int64_t position) {
    using TBody = TConnection::TBody;
    std::optional<std::string> raw = ParseStreamTitle(block);
    if (!raw) return true;
    std::string title = DecodeStationText(*raw, options_.codePage);
    if (c.body == TBody::Audio && c.delivering) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (c.generation != generation_) return true;
            QueueTitle(c, std::move(title), position);
        }
        Notify();
    } else if (c.body == TBody::Sniff) {
        c.pendingTitles.push_back({position, std::move(title)});
    }
    return true;
}

void THttpSource::QueueTitle(TConnection& c, std::string title, int64_t position) {
    if (lastTitle_ && *lastTitle_ == title) return;
    lastTitle_ = title;
    titles_.push_back({c.base + position, std::move(title)});
}

// ------------------------------------------------------- under the mutex

int64_t THttpSource::HeldFrom() const {
    if (ring_.empty()) return frontier_;
    return std::max(floor_, frontier_ - static_cast<int64_t>(ring_.size()));
}

int64_t THttpSource::ReadEnd() const {
    for (int64_t b : breaks_) {
        if (b >= position_) return std::min(b, frontier_);
    }
    return frontier_;
}

void THttpSource::SetState(TLiveState state, std::string text) {
    state_ = state;
    stateText_ = std::move(text);
}

void THttpSource::Notify() {
    std::lock_guard<std::mutex> lock(handlerMutex_);
    if (onData_) onData_();
}

bool THttpSource::WaitOrWake(uint64_t generation, int32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto woken = [&] { return stop_ || generation_ != generation; };
    if (ms < 0) {
        cv_.wait(lock, woken);
        return true;
    }
    return cv_.wait_for(lock, std::chrono::milliseconds(ms), woken);
}

// ------------------------------------------------------------ the reader

int64_t THttpSource::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool over = state_ == TLiveState::Ended || state_ == TLiveState::Failed || state_ == TLiveState::List;
    return over ? frontier_ : TPipeStream::kUnknownSize;
}

int64_t THttpSource::Position() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return position_;
}

int64_t THttpSource::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t size = Size();
    std::lock_guard<std::mutex> lock(mutex_);
    int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent) base = position_;
    if (origin == TSeekOrigin::soEnd) base = size;
    int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0) throw EMP3Error("seek out of range");
    position_ = target;
    return position_;
}

size_t THttpSource::Read(void* buffer, size_t count) {
    size_t n = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count == 0 || position_ >= TPipeStream::kUnknownSize / 2) return 0;
        if (position_ < HeldFrom()) {
            throw EMP3Error("cannot read " + url_ + ": byte " + std::to_string(position_) +
                            " is no longer held (" + std::to_string(frontier_) + " bytes were received)");
        }
        const int64_t end = ReadEnd();
        if (position_ >= end) {
            // Ahead of what arrived: the bytes up to here are not wanted.
            if (position_ > frontier_) readMark_ = std::max(readMark_, position_);
            return 0;
        }
        n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), end - position_));
        const auto ringSize = static_cast<size_t>(ring_.size());
        const auto at = static_cast<size_t>(position_ % static_cast<int64_t>(ringSize));
        const size_t first = std::min(n, ringSize - at);
        auto* out = static_cast<uint8_t*>(buffer);
        std::memcpy(out, ring_.data() + at, first);
        std::memcpy(out + first, ring_.data(), n - first);
        position_ += static_cast<int64_t>(n);
        readMark_ = std::max(readMark_, position_);
    }
    cv_.notify_all();
    return n;
}

// ------------------------------------------------------------- the facts

TLiveState THttpSource::State() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

std::string THttpSource::Error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

std::string THttpSource::StateText() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stateText_;
}

TStationFacts THttpSource::Facts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return facts_;
}

std::string THttpSource::ListBody() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return listBody_;
}

int64_t THttpSource::Available() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (position_ < HeldFrom()) return 0;
    return std::max<int64_t>(0, ReadEnd() - position_);
}

int64_t THttpSource::PrebufferBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    const int32_t kbps = facts_.bitrateKbps > 0 ? facts_.bitrateKbps : frameBitrateKbps_;
    if (kbps <= 0) return kMaxPrebuffer;
    return std::clamp<int64_t>(int64_t{kbps} * 125, kMinPrebuffer, kMaxPrebuffer);
}

bool THttpSource::AtBreak() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(breaks_.begin(), breaks_.end(), position_) != breaks_.end();
}

void THttpSource::PassBreak() {
    std::lock_guard<std::mutex> lock(mutex_);
    while (!breaks_.empty() && breaks_.front() <= position_) breaks_.pop_front();
}

std::vector<TLiveTitle> THttpSource::TakeTitles() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<TLiveTitle> out;
    out.swap(titles_);
    return out;
}

void THttpSource::SetOnData(std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(handlerMutex_);
    onData_ = std::move(handler);
}

int64_t THttpSource::CapacityBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return capacity_;
}

}  // namespace wl
