#include "playback/playback_controller.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <exception>

#include "engine/live_open.h"
#include "playback/cover_art.h"
#include "playback/m3u.h"
#include "playback/player_thread.h"
#include "playback/playlist_names.h"
#include "playback/station_list.h"

namespace wl {

namespace {

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QString ErrorText(const std::exception& error) { return QString::fromUtf8(error.what()).trimmed(); }

// The loudness values a list gave the entry (an album sheet's REM lines).
TReplayGain GainOf(const TEntryMeta& m) { return {m.TrackGainDb, m.TrackPeak, m.AlbumGainDb, m.AlbumPeak}; }

// A track of an album sheet: its own title, artist, album and number in
// place of the whole file's tags.
void TakeTrackMeta(TEntryFacts& facts, const TPlaylistEntry& item) {
    const TEntryMeta& m = item.Meta;
    if (item.Range.Whole() || (m.Track <= 0 && m.Title.isEmpty())) return;
    if (!m.Title.isEmpty()) facts.Title = facts.TagTitle = m.Title;
    if (!m.Artist.isEmpty()) facts.Artist = m.Artist;
    if (!m.Album.isEmpty()) facts.Album = m.Album;
    if (m.Track > 0) facts.Track = QString::number(m.Track);
}

// Position reports while a station plays come often enough that a title is
// told well within a second of its audio.
constexpr int32_t kFilePositionStep = 900;
constexpr int32_t kLivePositionStep = 250;
// Until the first sound after a start, seek or resume is heard.
constexpr int32_t kHeldPositionStep = 100;

// The player as the program uses it: opened as soon as its file is named,
// started by Play, a position report every 900 ms, the ten-band equalizer.
std::unique_ptr<TMP3Player> MakePlayer(const std::string& device) {
    auto player = std::make_unique<TMP3Player>(device);
    TMP3Player& p = *player;
    p.BeginLoad();
    p.SetAutoOpen(true);
    p.SetAutoPlay(false);
    p.SetChangePosStep(kFilePositionStep);
    p.SetDecodePriority(TThreadPriority::tpNormal);
    p.SetEqualizerEnabled(true);
    p.SetEqualizerCount(TPlaybackController::kEqualizerBands);
    p.SetEqualizerMode(memFreq);
    p.SetNeedInfoType(TMP3InfoType{mitID3V1, mitID3V2});
    p.SetNoisySeek(false);
    p.SetInvertPolarity(false);
    p.SetUsingCpuCapabilities(TMP3CpuCapabilities::All());
    p.SetVolBalance(0);
    p.SetVolume(0);  // while loading: the output's own volume
    p.Loaded();
    return player;
}

}  // namespace

TPlaybackController::TPlaybackController(std::string outputDevice, QObject* parent) : QObject(parent) {
    holdTimer_.setSingleShot(true);
    connect(&holdTimer_, &QTimer::timeout, this, [this] { HoldEnded(); });
    connect(&playlist_, &PlaylistModel::Reordered, this, &TPlaybackController::ListReordered);
    player_ = std::make_unique<TPlayerThread>([&outputDevice] { return MakePlayer(outputDevice); });
    player_->Run([this](TMP3Player& p) {
        volume_ = p.Volume();
        balance_ = p.VolBalance();
        eqEnabled_ = p.EqualizerEnabled();
        for (int b = 0; b < kEqualizerBands; ++b) {
            eqGains_[static_cast<size_t>(b)] = p.EqualizerValue(b);
            eqFrequencies_[static_cast<size_t>(b)] = p.EqualizerFrequency(b);
        }
        priority_ = p.DecodePriority();
        output_ = p.Output();
        // The player's events, turned into reports of the generation it has open.
        p.OnChangePosition = [this](TMP3Player* sender) {
            Report([this, g = playerGeneration_, pos = sender->Position()] { Positioned(g, pos, false); });
        };
        p.OnEndPlay = [this](TMP3Player*, TMP3EndPlayReason reason) {
            Report([this, g = playerGeneration_, reason] { Ended(g, reason); });
        };
        p.OnNextStarted = [this](TMP3Player* sender) { PlayedOnOnPlayer(*sender); };
        p.OnError = [this](TMP3Player*, const std::exception& error) {
            Report([this, text = ErrorText(error)] { emit Error(text); });
        };
        p.OnLiveNews = [this](TMP3Player*, const TLiveNews& news) {
            Report([this, g = playerGeneration_, news] { LiveNews(g, news); });
        };
        p.OnOutputState = [this](TMP3Player*, bool waiting, const std::string& text) {
            Report([this, waiting, text = QString::fromStdString(text)] {
                outputWaiting_ = waiting;
                emit OutputStateChanged(waiting, text);
            });
        };
    });
}

TPlaybackController::~TPlaybackController() {
    holdTimer_.stop();
    player_.reset();  // stops the player and ends its thread
}

// ---------------------------------------------------------------- options

void TPlaybackController::SetOptions(const TPlayOptions& options) {
    if (options == options_) return;
    const bool orderChanged = options.Random != options_.Random || options.Repeat != options_.Repeat;
    const bool followingChanged = orderChanged || options.UseCache != options_.UseCache;
    options_ = options;
    // What follows the playing entry may have changed.
    if (followingChanged && open_) {
        CancelHandOver(true);
        HandOverMore();
    }
    if (orderChanged) emit PlayOrderChanged(options_.Random, options_.Repeat);
}

void TPlaybackController::SetPlayOrder(bool random, bool repeat) {
    if (random && !options_.Random) playlist_.ResetNotPlayed();  // a random order starts a fresh round
    TPlayOptions options = options_;
    options.Random = random;
    options.Repeat = repeat;
    SetOptions(options);
}

void TPlaybackController::SetResumePoint(int entry, int64_t ms) {
    resumeEntry_ = entry;
    resumeMs_ = std::max<int64_t>(0, ms);
}

// ---------------------------------------------------------------- commands

void TPlaybackController::PlayEntry(int entry) { Submit({TCommand::PlayEntry, entry}); }
void TPlaybackController::StartList() { Submit({TCommand::StartList}); }
void TPlaybackController::Play() { Submit({TCommand::Play}); }
void TPlaybackController::Pause() { Submit({TCommand::Pause}); }
void TPlaybackController::PlayPause() { Submit({TCommand::PlayPause}); }
void TPlaybackController::Stop() { Submit({TCommand::Stop}); }
void TPlaybackController::Next() { Submit({TCommand::Next}); }
void TPlaybackController::Previous() { Submit({TCommand::Previous}); }
// (A seek belongs to what plays when it is given: one that waits out a hold
// while that entry ends is dropped.)
void TPlaybackController::Seek(int64_t ms) { Submit({TCommand::Seek, 0, ms, generation_}); }

void TPlaybackController::SetVolume(int volume) {
    if (volume < 0 || volume > 100) return;
    const bool changed = volume != volume_;
    volume_ = volume;
    player_->Post([volume](TMP3Player& p) { p.SetVolume(volume); });
    if (changed) emit VolumeChanged(volume);
}

void TPlaybackController::SetBalance(int balance) {
    if (balance < -100 || balance > 100) return;
    balance_ = balance;
    player_->Post([balance](TMP3Player& p) { p.SetVolBalance(balance); });
}

void TPlaybackController::SetEqualizerEnabled(bool enabled) {
    eqEnabled_ = enabled;
    player_->Post([enabled](TMP3Player& p) { p.SetEqualizerEnabled(enabled); });
}

void TPlaybackController::SetEqualizerValue(int band, int gain) {
    if (band < 0 || band >= kEqualizerBands || gain < -100 || gain > 100) return;
    eqGains_[static_cast<size_t>(band)] = gain;
    player_->Post([band, gain](TMP3Player& p) { p.SetEqualizerValue(band, gain); });
}

int TPlaybackController::EqualizerValue(int band) const {
    return band >= 0 && band < kEqualizerBands ? eqGains_[static_cast<size_t>(band)] : 0;
}

int TPlaybackController::EqualizerFrequency(int band) const {
    return band >= 0 && band < kEqualizerBands ? eqFrequencies_[static_cast<size_t>(band)] : 0;
}

void TPlaybackController::SetReplayGain(TMP3ReplayGainMode mode, double preampDb, bool preventClipping) {
    player_->Post([mode, preampDb, preventClipping](TMP3Player& p) {
        p.SetReplayGain(mode, preampDb, preventClipping);
    });
}

void TPlaybackController::SetDecodePriority(TThreadPriority priority) {
    priority_ = priority;
    player_->Post([priority](TMP3Player& p) { p.SetDecodePriority(priority); });
}

void TPlaybackController::SetOutputDevice(const std::string& name) {
    player_->Post([name](TMP3Player& p) { p.SetOutputDevice(name); });
}

void TPlaybackController::Inspect(const std::function<void(TMP3Player&)>& look) {
    player_->Run(look);
}

// ------------------------------------------------------------ the queue

void TPlaybackController::Submit(TQueued command) {
    queue_.push_back(command);
    RunQueue();
}

void TPlaybackController::RunQueue() {
    while (!holding_ && !queue_.empty()) {
        const TQueued command = queue_.front();
        queue_.pop_front();
        Apply(command);
    }
}

void TPlaybackController::Apply(const TQueued& c) {
    // A command of the user's starts the count of failures in a row afresh.
    if (c.command == TCommand::PlayEntry || c.command == TCommand::StartList || c.command == TCommand::Play ||
        c.command == TCommand::Next || c.command == TCommand::Previous) {
        failures_ = 0;
    }
    switch (c.command) {
    case TCommand::PlayEntry:
        if (c.entry < 1) {
            if (playlist_.EntryCount > 0) {
                StartNewRound();
            } else {
                emit EntryStarting(0);
            }
            return;
        }
        playlist_.CurrentEntry = std::min(c.entry, playlist_.Capacity);
        StartCurrent();
        return;
    case TCommand::StartList:
        StartNewRound();
        return;
    case TCommand::Play:
        if (state_ == TPlayState::Paused) {
            DoResume();
        } else if (state_ == TPlayState::Stopped) {
            Apply({TCommand::PlayEntry, playlist_.CurrentEntry});
        }
        return;
    case TCommand::Pause:
        if (state_ == TPlayState::Playing) {
            DoPause();
        } else if (state_ == TPlayState::Paused) {
            DoResume();
        }
        return;
    case TCommand::PlayPause:
        Apply({state_ == TPlayState::Stopped ? TCommand::Play : TCommand::Pause});
        return;
    case TCommand::Stop:
        DoStop(TStopCause::Command);
        return;
    case TCommand::Seek: {
        if (c.generation != generation_ || !open_ || state_ == TPlayState::Stopped || facts_.LengthMs <= 0) return;
        const int64_t ms = std::clamp<int64_t>(c.ms, 0, facts_.LengthMs);
        positionMs_ = ms;
        positionClock_.restart();
        HoldClock(false);
        emit PositionChanged(ms, facts_.LengthMs);
        player_->Post([this, g = generation_, ms](TMP3Player& p) {
            if (g != playerGeneration_) return;
            try {
                p.SetChangePosStep(kHeldPositionStep);
                p.Seek(ms);
                const int64_t at = p.Position();
                Report([this, g, at] { Positioned(g, at, true); });
            } catch (const std::exception& error) {
                Report([this, text = ErrorText(error)] { emit Error(text); });
            }
        });
        return;
    }
    case TCommand::Next:
    case TCommand::Previous:
        if (moves_.empty()) {
            // The moves count from here; the player no longer plays on by itself.
            moveBase_ = playlist_.CurrentEntry;
            playedOnDuringMoves_ = false;
            CancelHandOver(true);
        }
        moves_.push_back(c.command);
        emit StepShown(c.command == TCommand::Next ? TStep::Next : TStep::Previous);
        Hold([this] { FinishMoves(); });
        return;
    }
}

void TPlaybackController::Hold(std::function<void()> then) {
    if (holdMs_ == 0) {  // no hold: at once
        then();
        return;
    }
    holding_ = true;
    afterHold_ = std::move(then);
    holdTimer_.start(holdMs_);
}

void TPlaybackController::HoldEnded() {
    holding_ = false;
    std::function<void()> then = std::move(afterHold_);
    afterHold_ = nullptr;
    if (then) then();
    RunQueue();
}

// The hold of a Next or Previous has ended: the moves given meanwhile join
// it, each applied as it would have been alone, and only where they lead is
// started.
void TPlaybackController::FinishMoves() {
    while (!queue_.empty() && (queue_.front().command == TCommand::Next || queue_.front().command == TCommand::Previous)) {
        moves_.push_back(queue_.front().command);
        emit StepShown(queue_.front().command == TCommand::Next ? TStep::Next : TStep::Previous);
        queue_.pop_front();
    }
    // (A switch the player made on its own meanwhile does not count as a move.)
    const int playing = playlist_.CurrentEntry;
    playlist_.CurrentEntry = moveBase_;
    bool moved = false;
    for (const TCommand move : moves_) {
        const int target = FollowingEntry(move == TCommand::Next ? TAdvance::Next : TAdvance::Previous);
        if (target > 0) {
            playlist_.CurrentEntry = target;
            moved = true;
        }
    }
    moves_.clear();
    if (playedOnDuringMoves_ && playlist_.CurrentEntry == playing) {
        HandOverMore();  // already playing from its start
    } else if (moved) {
        StartCurrent();
    } else if (playedOnDuringMoves_) {
        playlist_.CurrentEntry = playing;
        HandOverMore();
    } else if (endPending_) {
        endPending_ = false;
        Advance();
    }
}

// ----------------------------------------------------------- the order

int TPlaybackController::FollowingEntry(TAdvance how, int from) {
    const int count = std::clamp<int>(playlist_.EntryCount, 0, playlist_.Capacity);
    const bool step = how == TAdvance::Next || how == TAdvance::Previous;
    if (count <= 0 || (step && count < 2)) return 0;
    if (options_.Random) {
        int pick = playlist_.PickRandom();
        if (pick == 0) {
            // The round is used up. Its end stops the list unless repeating; an
            // early pick waits for that end; Next and Previous start a new round.
            if (how == TAdvance::HandOver || (how == TAdvance::EndOfEntry && !options_.Repeat)) return 0;
            playlist_.ResetNotPlayed();
            pick = playlist_.PickRandom();
        }
        return pick;
    }
    const int current = std::max<int>(from < 0 ? playlist_.CurrentEntry : from, 0);
    switch (how) {
    case TAdvance::Next:
        return current >= count ? 0 : current + 1;  // no wrap, even with repeat
    case TAdvance::Previous:
        return current < 2 ? 0 : current - 1;
    case TAdvance::EndOfEntry:
    case TAdvance::HandOver:
        if (current < count) return current + 1;
        return options_.Repeat ? 1 : 0;
    }
    return 0;
}

void TPlaybackController::StartNewRound() {
    playlist_.ResetNotPlayed();
    playlist_.CurrentEntry = options_.Random ? playlist_.PickRandom() : 1;
    StartCurrent();
}

// ---------------------------------------------------------- starting

void TPlaybackController::StartCurrent() {
    CancelHandOver(false);  // the open gives the player its own
    autoAdvance_ = false;
    endPending_ = false;
    playingPath_.clear();
    const int entry = playlist_.CurrentEntry;
    if (entry < 1) {
        emit EntryStarting(entry);
        return;
    }
    const int row = entry - 1;
    const TPlaylistEntry item = playlist_.Entry(row);
    // Entries written where case does not matter find their files here too.
    const bool station = IsStreamUrl(item.Path);
    playingPath_ = station ? item.Path : ResolveEntryPath(item.Path);
    startedEntry_ = entry;
    startedSource_ = playingPath_;
    if (row < playlist_.Rows()) playlist_.MarkPlayed(row);
    if (options_.Random) playlist_.NotPlayed[entry] = 0;

    open_ = false;
    opening_ = true;
    facts_ = {};
    positionMs_ = 0;
    positionClock_.restart();
    ++generation_;
    latestGeneration_.store(generation_);
    const QString name = item.Path.isEmpty() ? QStringLiteral("entry %1").arg(entry)
                         : station             ? item.Path
                                               : FileNamePart(item.Path);
    TOpenRequest request{generation_, entry, playingPath_, name, item.Range, GainOf(item.Meta), 0, options_.UseCache,
                         options_.CachePath, {}, station, options_.TitleCodePage};
    if (resumeEntry_ == entry) request.startMs = resumeMs_;
    resumeEntry_ = 0;  // only the very next start may resume
    // Handed over before it plays: a short entry may end at once.
    request.upcoming = TopUpHandOver();
    player_->Post([this, request](TMP3Player& p) { OpenOnPlayer(p, request); });

    emit EntryStarting(entry);
    SetState(TPlayState::Playing);
    emit MetadataChanged();
    Hold([this] {
        autoAdvance_ = true;
        // An end during the hold advances now, unless a command given
        // meanwhile decides what plays next.
        const bool decided = std::any_of(queue_.begin(), queue_.end(), [](const TQueued& q) {
            return q.command == TCommand::PlayEntry || q.command == TCommand::StartList || q.command == TCommand::Next ||
                   q.command == TCommand::Previous || q.command == TCommand::Stop;
        });
        if (endPending_ && !decided) {
            endPending_ = false;
            Advance();
        }
    });
}

// On the player's thread: the entry's file in place of what was open, and
// played; a request that a later start or stop has overtaken is dropped.
void TPlaybackController::OpenOnPlayer(TMP3Player& p, const TOpenRequest& request) {
    if (request.generation != latestGeneration_.load()) return;
    playerGeneration_ = request.generation;
    const auto fail = [this, &request](const QString& why) {
        Report([this, g = request.generation, why] { Fail(g, why); });
    };
    try {
        p.Stop();
    } catch (const std::exception&) {
        // A device that failed to stop is given up with the file.
    }
    try {
        p.Close();
    } catch (const std::exception&) {
    }
    if (request.station) return OpenStationOnPlayer(p, request);
    p.SetChangePosStep(kHeldPositionStep);  // until the first sound is heard
    const QFileInfo info(request.path);
    const QString& name = request.name;
    if (request.path.isEmpty() || !info.exists()) return fail(QStringLiteral("Cannot open %1: no such file").arg(name));
    if (!info.isFile()) return fail(QStringLiteral("Cannot open %1: not a file").arg(name));
    if (!info.isReadable()) return fail(QStringLiteral("Cannot open %1: permission denied").arg(name));

    QString file = request.path;
    const int64_t size = info.size();
    if (request.useCache && !request.cachePath.isEmpty() && size >= 1 && size <= kCacheLimit &&
        QFileInfo(request.cachePath).canonicalFilePath() != info.canonicalFilePath()) {  // never the file itself
        if (QFile::exists(request.cachePath)) {
            QFile::setPermissions(request.cachePath, QFile::permissions(request.cachePath) | QFileDevice::WriteOwner);
            QFile::remove(request.cachePath);
        }
        if (QFile::copy(request.path, request.cachePath)) file = request.cachePath;
    }
    try {
        p.SetPlayRange(request.range.First, request.range.Count);
        p.SetPlayGain(request.gain);
        p.SetFileName(file.toUtf8().toStdString());
    } catch (const std::exception& error) {
        return fail(QStringLiteral("Cannot open %1: %2").arg(name, ErrorText(error)));
    }
    upcoming_.assign(request.upcoming.begin(), request.upcoming.end());
    withdrawn_ = {};
    GiveNextOnPlayer(p);
    try {
        p.Play();
        if (request.startMs > 0) p.Seek(request.startMs);
    } catch (const std::exception& error) {
        try {
            p.Close();
        } catch (const std::exception&) {
        }
        return fail(QStringLiteral("Cannot play %1: %2").arg(name, ErrorText(error)));
    }
    Report([this, g = request.generation, facts = FactsOf(p, file, request.path)] { Started(g, facts); });
}

// On the player's thread: a station connected, its pre-buffer filled (the
// window hears how far), then opened and played. A station list in its place
// goes to the window's thread to become entries. A later start or stop ends
// the wait within moments.
void TPlaybackController::OpenStationOnPlayer(TMP3Player& p, const TOpenRequest& request) {
    const uint64_t g = request.generation;
    const auto fail = [this, g](const QString& why) { Report([this, g, why] { Fail(g, why); }); };
    const std::string url = request.path.toUtf8().toStdString();
    std::unique_ptr<TLiveSource> source;
    try {
        source = OpenStation(url, request.codePage.toUtf8().toStdString());
        source->Start();
    } catch (const std::exception& error) {
        return fail(QStringLiteral("Cannot play %1: %2").arg(request.name, ErrorText(error)));
    }
    const TPrebufferResult result = WaitForPrebuffer(
        *source, [this, g] { return g != latestGeneration_.load(); },
        [this, g](int percent) {
            Report([this, g, percent] { LiveNews(g, {TLiveNews::TKind::Buffering, percent, {}}); });
        });
    switch (result) {
    case TPrebufferResult::Cancelled:
        return;
    case TPrebufferResult::Failed: {
        const QString why = Utf8(source->Error());
        return fail(why.isEmpty() ? QStringLiteral("Cannot play %1: the station sent nothing").arg(request.name) : why);
    }
    case TPrebufferResult::List: {
        const std::string body = source->ListBody();
        const QString answered = Utf8(source->Facts().url);
        Report([this, g, entry = request.entry, body = QByteArray::fromStdString(body),
                url = answered.isEmpty() ? request.path : answered,
                type = Utf8(source->Facts().contentType)] { ExpandStations(g, entry, body, url, type); });
        return;
    }
    case TPrebufferResult::Ready:
        break;
    }
    try {
        p.SetChangePosStep(kLivePositionStep);
        p.SetPlayRange(0, -1);
        p.SetPlayGain({});
        p.OpenStream(std::move(source), url);
    } catch (const std::exception& error) {
        return fail(QStringLiteral("Cannot play %1: %2").arg(request.name, ErrorText(error)));
    }
    // Nothing plays on into a station or out of it.
    upcoming_.clear();
    withdrawn_ = {};
    GiveNextOnPlayer(p);
    try {
        p.Play();
    } catch (const std::exception& error) {
        try {
            p.Close();
        } catch (const std::exception&) {
        }
        return fail(QStringLiteral("Cannot play %1: %2").arg(request.name, ErrorText(error)));
    }
    Report([this, g, facts = FactsOf(p, request.path, request.path)] {
        Started(g, facts);
        LiveNews(g, {TLiveNews::TKind::Playing, 100, {}});  // the pre-buffer's status ends
    });
}

void TPlaybackController::LiveNews(uint64_t generation, const TLiveNews& news) {
    if (generation != generation_) return;
    switch (news.kind) {
    case TLiveNews::TKind::Buffering: {
        const QString percent = QStringLiteral("Buffering %1 %").arg(news.percent);
        emit LiveStatus(news.text.empty() ? percent : Utf8(news.text) + QStringLiteral(" — ") + percent.toLower());
        break;
    }
    case TLiveNews::TKind::Playing:
        emit LiveStatus(QString());
        break;
    case TLiveNews::TKind::Reconnecting:
        emit LiveStatus(Utf8(news.text));
        break;
    case TLiveNews::TKind::Failed:
        emit Error(Utf8(news.text));
        break;
    case TLiveNews::TKind::Title: {
        if (!open_ || !facts_.Live) break;
        // "Artist - Title" as stations send it.
        const QString text = Utf8(news.text).trimmed();
        const qsizetype dash = text.indexOf(QLatin1String(" - "));
        facts_.Artist = dash > 0 ? text.left(dash).trimmed() : QString();
        facts_.TagTitle = dash > 0 ? text.mid(dash + 3).trimmed() : text;
        facts_.Title = text.isEmpty() ? (facts_.Station.isEmpty() ? facts_.Source : facts_.Station) : text;
        emit MetadataChanged();
        break;
    }
    }
}

// A station list fetched for entry `entry`: its stations take the entry's
// place and the first of them is started. Lists naming lists are followed a
// few levels deep, no further (a list may name itself).
void TPlaybackController::ExpandStations(uint64_t generation, int entry, const QByteArray& body, const QString& url,
                                         const QString& contentType) {
    if (generation != generation_ || entry != playlist_.CurrentEntry) return;
    if (++listDepth_ > kMaxListDepth)
        return Fail(generation, QStringLiteral("Cannot play %1: station lists name station lists too deep").arg(url));
    TStationList list = ParseStationList(body, contentType.isEmpty() ? url : contentType, url);
    if (list.Entries.empty() && !contentType.isEmpty()) list = ParseStationList(body, url, url);
    if (list.Entries.empty()) {
        const QString why = list.Error.isEmpty() ? QStringLiteral("the station list names no station") : list.Error;
        return Fail(generation, url + QStringLiteral(": ") + why);
    }
    const int count = playlist_.ReplaceEntry(entry - 1, list.Entries);
    if (count == 0) return Fail(generation, url + QStringLiteral(": the station list names nothing that can be played"));
    if (!list.Warning.isEmpty()) emit Error(url + QStringLiteral(": ") + list.Warning);
    emit StationsExpanded(entry, count);
    playlist_.CurrentEntry = entry;
    StartCurrent();
}

TEntryFacts TPlaybackController::FactsOf(TMP3Player& p, const QString& file, const QString& source) const {
    TEntryFacts f;
    f.File = file;
    f.Source = source;
    f.Bitrate = p.Bitrate();
    f.SampleRate = p.SampleRate();
    f.Channels = p.Channels();
    f.Layer = p.Layer();
    f.Version = p.Version();
    f.LengthMs = p.Length();
    f.Title = Utf8(p.Title());
    f.TagTitle = Utf8(p.Info().Title());
    f.Artist = Utf8(p.Artist());
    f.Album = Utf8(p.Album());
    f.Comment = Utf8(p.Comment());
    f.Year = Utf8(p.Year());
    f.Genre = Utf8(p.Genre());
    f.Track = Utf8(p.Track());
    if (p.IsLive()) {
        f.Live = true;
        f.Station = Utf8(p.Live()->Facts().name);
        f.Album = f.Station;
        f.TagTitle.clear();
    } else {
        // Read here, off the window's thread, by the entry's own path (a
        // cache copy has no folder art beside it).
        f.ArtPath = FindCoverArt(source);
    }
    return f;
}

void TPlaybackController::Started(uint64_t generation, const TEntryFacts& facts) {
    if (generation != generation_) return;
    listDepth_ = 0;
    opening_ = false;
    open_ = true;
    facts_ = facts;
    TakeTrackMeta(facts_, playlist_.Entry(playlist_.CurrentEntry - 1));
    playingPath_ = facts.File;
    positionMs_ = 0;
    positionClock_.restart();
    HoldClock(false);  // the open asked the player for early news
    // A pause or stop asked for meanwhile has been sent after the open.
    emit EntryStarted(playlist_.CurrentEntry, false);
    emit MetadataChanged();
    emit PositionChanged(0, facts_.LengthMs);
}

void TPlaybackController::Fail(uint64_t generation, const QString& text) {
    if (generation != generation_) return;
    opening_ = false;
    open_ = false;
    facts_ = {};
    listDepth_ = 0;
    CancelHandOver(true);
    ++failures_;
    const int entry = playlist_.CurrentEntry;
    emit EntryFailed(entry, text);
    emit Error(text);
    emit MetadataChanged();
    if (state_ == TPlayState::Stopped) return;  // stopped meanwhile
    if (holding_ || !autoAdvance_) {
        endPending_ = true;
        return;
    }
    Advance();
}

// ------------------------------------------------------------- the end

void TPlaybackController::Ended(uint64_t generation, TMP3EndPlayReason reason) {
    if (generation != generation_ || reason == mepStopped) return;
    if (reason == mepError) {
        ++failures_;
    } else {
        failures_ = 0;
    }
    if (state_ == TPlayState::Stopped) return;
    if (holding_ || !autoAdvance_) {
        endPending_ = true;
        return;
    }
    Advance();
}

void TPlaybackController::Advance() {
    if (failures_ >= kMaxFailures) {
        failures_ = 0;
        emit Error(QStringLiteral("Stopped: %1 entries in a row could not be played").arg(kMaxFailures));
        DoStop(TStopCause::Failures);
        return;
    }
    const int count = playlist_.EntryCount;
    int next = 0;
    if (!handed_.empty() && handed_.front().entry <= count) {
        // Handed to the player but not played on into (another format): the pick stands.
        next = handed_.front().entry;
        handed_.pop_front();
        CancelHandOver(true);
    } else {
        next = FollowingEntry(TAdvance::EndOfEntry);
    }
    if (next <= 0) {
        // A random round that ran out leaves no current entry: Play starts a new one.
        if (options_.Random) playlist_.CurrentEntry = 0;
        const TStopCause cause = open_ || failures_ == 0 ? TStopCause::EndOfList : TStopCause::Failed;
        DoStop(cause);
        return;
    }
    playlist_.CurrentEntry = next;
    StartCurrent();
}

// ----------------------------------------------------- pause and stop

void TPlaybackController::DoPause() {
    SetState(TPlayState::Paused);
    player_->Post([this, g = generation_](TMP3Player& p) {
        if (g != playerGeneration_) return;
        try {
            p.Pause();
        } catch (const std::exception& error) {
            Report([this, text = ErrorText(error)] { emit Error(text); });
        }
    });
}

void TPlaybackController::DoResume() {
    SetState(TPlayState::Playing);
    positionClock_.restart();
    HoldClock(true);
    player_->Post([this, g = generation_](TMP3Player& p) {
        if (g != playerGeneration_) return;
        try {
            p.Resume();
        } catch (const std::exception& error) {
            Report([this, text = ErrorText(error)] { emit Error(text); });
        }
    });
}

void TPlaybackController::DoStop(TStopCause cause) {
    CancelHandOver(true);
    autoAdvance_ = false;
    endPending_ = false;
    opening_ = false;
    // What was asked to open and has not yet is not opened any more.
    ++generation_;
    latestGeneration_.store(generation_);
    player_->Post([this](TMP3Player& p) {
        try {
            p.Stop();
            // A station is disconnected; Play connects again.
            if (p.IsLive()) p.Close();
        } catch (const std::exception& error) {
            Report([this, text = ErrorText(error)] { emit Error(text); });
        }
    });
    positionMs_ = 0;
    SetState(TPlayState::Stopped, cause);
    if (open_) emit PositionChanged(0, facts_.LengthMs);
}

void TPlaybackController::SetState(TPlayState state, TStopCause cause) {
    if (state == TPlayState::Playing) positionClock_.restart();
    if (state == TPlayState::Paused && state_ == TPlayState::Playing) positionMs_ = PositionMs();
    if (state == state_ && cause == TStopCause::None) return;
    state_ = state;
    emit StateChanged(state, cause);
}

// ---------------------------------------------------- gapless hand-over

// The entries that follow the current one, up to kHandAhead, picked now as
// the end of each would pick them. The player holds them in order: when it
// plays on into the first it moves on to the second at once, before this
// thread could hand it over (a short entry may be decoded to its end by then).
std::vector<TPlaybackController::THanded> TPlaybackController::TopUpHandOver() {
    std::vector<THanded> added;
    if (options_.UseCache) return added;  // the player reads the cached copy: each entry starts on its own
    while (handed_.size() < kHandAhead) {
        const int from = handed_.empty() ? playlist_.CurrentEntry : handed_.back().entry;
        const int next = FollowingEntry(TAdvance::HandOver, from);
        if (next < 1 || next > playlist_.EntryCount) break;
        const TPlaylistEntry item = playlist_.Entry(next - 1);
        // Nothing plays on into a station or out of one.
        const bool stations = IsStreamUrl(item.Path) || IsStreamUrl(playlist_.Path(from - 1));
        const QString path = stations ? QString() : ResolveEntryPath(item.Path);
        // A track of a sheet is played on into only from the track before it
        // in the same file (in order, or a random pick that happens to be it):
        // the player's walk goes on from that track's end.
        bool inFile = false;
        if (!path.isEmpty() && !item.Range.Whole() && from >= 1 && from <= playlist_.EntryCount) {
            const TPlaylistEntry before = playlist_.Entry(from - 1);
            inFile = before.Range.Count > 0 && before.Range.First + before.Range.Count == item.Range.First &&
                     ResolveEntryPath(before.Path) == path;
        }
        if (path.isEmpty() || (!item.Range.Whole() && !inFile)) {
            if (options_.Random) playlist_.NotPlayed[next] = next;
            break;
        }
        handed_.push_back({next, options_.Random, path, inFile, item.Range, GainOf(item.Meta)});
        added.push_back(handed_.back());
    }
    return added;
}

void TPlaybackController::HandOverMore() {
    std::vector<THanded> added = TopUpHandOver();
    if (added.empty()) return;
    player_->Post([this, g = generation_, added = std::move(added)](TMP3Player& p) {
        if (g != playerGeneration_) return;
        const bool wasEmpty = upcoming_.empty();
        upcoming_.insert(upcoming_.end(), added.begin(), added.end());
        if (wasEmpty) GiveNextOnPlayer(p);
    });
}

void TPlaybackController::ListReordered(const std::vector<int>& from) {
    // Entry numbers before -> after (0: the entry went).
    auto newOf = std::make_shared<std::vector<int>>();
    for (size_t r = 0; r < from.size(); ++r) {
        const int old = from[r];
        if (old < 0) continue;
        if (static_cast<size_t>(old) >= newOf->size()) newOf->resize(static_cast<size_t>(old) + 1, 0);
        (*newOf)[static_cast<size_t>(old)] = static_cast<int>(r) + 1;
    }
    const auto remap = [newOf](int entry) {
        return entry >= 1 && static_cast<size_t>(entry) <= newOf->size() ? (*newOf)[static_cast<size_t>(entry) - 1] : 0;
    };
    for (THanded& h : handed_) h.entry = remap(h.entry);
    startedEntry_ = remap(startedEntry_);
    moveBase_ = remap(moveBase_);
    resumeEntry_ = remap(resumeEntry_);
    CancelHandOver(true);
    // One already decoded into still plays on and is told by its new number.
    player_->Post([this, remap](TMP3Player&) {
        for (THanded& h : upcoming_) h.entry = remap(h.entry);
        withdrawn_.entry = remap(withdrawn_.entry);
    });
    if (open_ && state_ != TPlayState::Stopped && moves_.empty()) HandOverMore();
}

// Picks not taken go back to the random pool.
void TPlaybackController::CancelHandOver(bool tellPlayer) {
    if (handed_.empty()) return;
    for (const THanded& h : handed_) {
        if (h.randomPick) playlist_.NotPlayed[h.entry] = h.entry;
    }
    handed_.clear();
    if (!tellPlayer) return;
    player_->Post([this](TMP3Player& p) {
        if (!upcoming_.empty()) withdrawn_ = upcoming_.front();
        upcoming_.clear();
        GiveNextOnPlayer(p);
    });
}

void TPlaybackController::GiveNextOnPlayer(TMP3Player& p) {
    const THanded* next = upcoming_.empty() ? nullptr : &upcoming_.front();
    const bool inFile = next && next->inFile;
    p.SetNextFileName(next && !inFile ? next->path.toUtf8().toStdString() : std::string());
    if (inFile)
        p.SetNextRange(next->range.First, next->range.Count, next->gain);
    else
        p.SetNextRange(-1, -1);
}

// On the player's thread: the player has played on into the first entry it
// was handed (or one withdrawn too late to stop it); the one after goes to it
// at once.
void TPlaybackController::PlayedOnOnPlayer(TMP3Player& p) {
    const QString file = Utf8(p.FileName());
    int entry = 0;
    if (!upcoming_.empty()) {
        entry = upcoming_.front().entry;
        upcoming_.pop_front();
        if (!upcoming_.empty()) GiveNextOnPlayer(p);
    } else if (withdrawn_.path == file) {
        entry = withdrawn_.entry;
    }
    withdrawn_ = {};
    Report([this, g = playerGeneration_, entry, facts = FactsOf(p, file, file)] { NextStarted(g, entry, facts); });
}

void TPlaybackController::NextStarted(uint64_t generation, int entry, const TEntryFacts& facts) {
    if (generation != generation_) return;
    if (!handed_.empty() && handed_.front().entry == entry) handed_.pop_front();
    failures_ = 0;
    if (entry < 1 || entry > playlist_.EntryCount) return;
    if (!moves_.empty()) playedOnDuringMoves_ = true;
    if (options_.Random) playlist_.NotPlayed[entry] = 0;
    playlist_.CurrentEntry = entry;
    playlist_.MarkPlayed(entry - 1);
    facts_ = facts;
    facts_.Source = ResolveEntryPath(playlist_.Path(entry - 1));
    TakeTrackMeta(facts_, playlist_.Entry(entry - 1));
    playingPath_ = facts.File;
    startedEntry_ = entry;
    startedSource_ = facts_.Source;
    positionMs_ = 0;
    positionClock_.restart();
    heldAtMs_ = -1;  // heard from its start: a clock held for the entry before runs at the next report
    emit EntryStarted(entry, true);
    emit MetadataChanged();
    emit PositionChanged(0, facts_.LengthMs);
    if (moves_.empty()) HandOverMore();
}

// ------------------------------------------------------------ position

void TPlaybackController::HoldClock(bool tellPlayer) {
    clockHeld_ = true;
    heldAtMs_ = positionMs_;
    if (!tellPlayer) return;
    player_->Post([this, g = generation_](TMP3Player& p) {
        if (g == playerGeneration_) p.SetChangePosStep(kHeldPositionStep);
    });
}

void TPlaybackController::Positioned(uint64_t generation, int64_t positionMs, bool seeked) {
    if (generation != generation_ || !open_) return;
    positionMs_ = positionMs;
    positionClock_.restart();
    if (clockHeld_ && (seeked || positionMs <= heldAtMs_)) {
        heldAtMs_ = positionMs;  // where the seek landed; nothing heard yet
    } else if (clockHeld_) {
        // Sound is heard: the clock runs on from here, news at the usual pace.
        clockHeld_ = false;
        player_->Post([this, g = generation_, step = facts_.Live ? kLivePositionStep : kFilePositionStep](TMP3Player& p) {
            if (g == playerGeneration_) p.SetChangePosStep(step);
        });
    }
    emit PositionChanged(positionMs, facts_.LengthMs);
    if (seeked) emit Seeked(positionMs);
}

int64_t TPlaybackController::PositionMs() const {
    if (!open_) return 0;
    int64_t at = positionMs_;
    if (state_ == TPlayState::Playing && !clockHeld_ && positionClock_.isValid()) at += positionClock_.elapsed();
    return facts_.LengthMs > 0 ? std::min(at, facts_.LengthMs) : at;
}

TTrackInfo TPlaybackController::Track() const {
    TTrackInfo t;
    const int entry = playlist_.CurrentEntry;
    const TPlaylistEntry item = playlist_.Entry(entry - 1);
    if (entry < 1 || item.Path.isEmpty()) return t;
    t.Entry = entry;
    // (Resolved once, when it started: this is read at every change.)
    const bool started = entry == startedEntry_;
    t.Source = started ? startedSource_ : item.Path;
    t.LengthMs = item.Meta.LengthMs;
    t.Artist = item.Meta.Artist;
    t.Album = item.Meta.Album;
    t.Title = item.Meta.Title;
    // A sheet's track: its own title, artist, album and number, not the
    // whole file's tags.
    const bool sheetTrack = !item.Range.Whole() && (item.Meta.Track > 0 || !item.Meta.Title.isEmpty());
    if (item.Meta.Track > 0) t.Track = QString::number(item.Meta.Track);
    if (started && open_) {
        if (!sheetTrack) {
            if (!facts_.TagTitle.isEmpty()) t.Title = facts_.TagTitle;
            if (!facts_.Artist.isEmpty()) t.Artist = facts_.Artist;
            if (!facts_.Album.isEmpty()) t.Album = facts_.Album;
            t.Track = facts_.Track;
        }
        t.Genre = facts_.Genre;
        if (facts_.LengthMs > 0) t.LengthMs = facts_.LengthMs;
        t.ArtPath = facts_.ArtPath;
        // A station that has told no title yet goes by its name.
        if (facts_.Live && facts_.TagTitle.isEmpty() && !facts_.Station.isEmpty()) t.Title = facts_.Station;
    }
    if (t.Title.isEmpty()) t.Title = TitleFromPath(item.Path);
    return t;
}

}  // namespace wl
