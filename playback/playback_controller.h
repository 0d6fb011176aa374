// The playback controller: owns the player (on a thread of its own), the
// playlist, the play order and the current entry. The window, the media
// controls and a second start's hand-off are its clients: they send it
// commands and follow its signals.
//
// Commands are taken at once and never block: the player's work (stopping,
// opening, the cache copy, waiting for the sound server) runs on the player's
// thread. Commands run in the order given. "Next" and "Previous" first show
// their step for a hold (300 ms); commands that come during a hold wait for
// its end, and the moves among them are applied together, so that N Nexts move
// N entries and only the last entry is opened. Starting an entry is followed by
// a hold too, after which the end of an entry may advance the list; an end
// that comes during a hold is kept for the hold's end.
//
// The end of an entry (the player's end event) starts the one that follows
// (FollowingEntry: in order, repeated or at random). While an entry plays,
// the one its end leads to is handed to the player, which plays on into it
// without a gap when both have the same format; a track of an album sheet
// that follows the playing one in the same file is played on into by the
// same decoder, without opening the file again. An entry that cannot be
// played is reported (Error) and passed over as at its end; after
// kMaxFailures failures in a row the list stops.
//
// Failures: nothing is thrown; what the player raises becomes an Error signal.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/mp3_player.h"
#include "playback/playlist_model.h"

namespace wl {

class TPlayerThread;
class TSoundOut;

enum class TPlayState : uint8_t { Stopped, Playing, Paused };

// Why playback stopped (with StateChanged).
enum class TStopCause : uint8_t {
    None,      // not stopped
    Command,   // Stop
    EndOfList, // nothing follows the entry that ended
    Failed,    // the entry could not be played and nothing follows
    Failures,  // kMaxFailures entries in a row could not be played
};

// The step a hold shows before Next or Previous is applied.
enum class TStep : uint8_t { Previous, Next };

// How the entry after the current one is found.
enum class TAdvance : uint8_t {
    EndOfEntry,  // the current one ended: in order (wrapping with repeat) or at random
    HandOver,    // the same, picked early for the player (a used-up random pool is not refilled)
    Next,        // the Next command: in order without wrapping, or at random
    Previous,    // the Previous command: back in order, or at random
};

// The facts of an entry's file once it is open.
struct TEntryFacts {
    QString File;    // what the player reads (the cache copy when one is used)
    QString Source;  // the entry's path, resolved
    int32_t Bitrate = 0;  // bit/s; 0 for a variable rate
    int32_t SampleRate = 0;
    int32_t Channels = 0;
    int32_t Layer = 0;
    int32_t Version = 0;  // 1, 2, or 3 for MPEG 2.5
    int64_t LengthMs = 0;
    // The tags; Title is the player's (the file name when there is no title tag).
    QString Title;
    QString TagTitle;  // the title tag alone
    QString Artist;
    QString Album;
    QString Comment;
    QString Year;
    QString Genre;
    QString Track;
    // A live stream (a station): no length, titles change as it plays.
    bool Live = false;
    QString Station;  // the station's name as its server gives it
    // The cover art's picture file (FindCoverArt); empty when there is none.
    QString ArtPath;
    bool operator==(const TEntryFacts&) const = default;
};

// What the current entry is, for the media controls.
struct TTrackInfo {
    int Entry = 0;  // 0: none
    QString Source;  // the entry's file (never the cache copy); empty when none
    QString Title;   // the title tag, else what the entry knows, else the file's name
    QString Artist;
    QString Album;
    QString Genre;
    QString Track;
    int64_t LengthMs = 0;
    QString ArtPath;  // the cover art's picture file; empty when none
    bool operator==(const TTrackInfo&) const = default;
};

// The options the list is played by.
struct TPlayOptions {
    bool Random = false;
    bool Repeat = false;
    bool UseCache = false;  // play a copy of files up to kCacheLimit bytes
    QString CachePath;      // where that copy goes
    // The 8-bit code page of station titles that are not UTF-8.
    QString TitleCodePage = QStringLiteral("WINDOWS-1252");
    bool operator==(const TPlayOptions&) const = default;
};

class TPlaybackController : public QObject {
    Q_OBJECT
public:
    static constexpr int kHoldMs = 300;
    static constexpr int kMaxFailures = 10;
    static constexpr int64_t kCacheLimit = 9'000'000;
    static constexpr int kEqualizerBands = 10;
    // Station lists naming station lists are followed this deep.
    static constexpr int kMaxListDepth = 4;

    // `outputDevice` as the player's (empty: WAVELANTERN_AUDIO, else pulse).
    explicit TPlaybackController(std::string outputDevice = {}, QObject* parent = nullptr);
    ~TPlaybackController() override;

    PlaylistModel& Playlist() { return playlist_; }
    const PlaylistModel& Playlist() const { return playlist_; }

    void SetOptions(const TPlayOptions& options);
    const TPlayOptions& Options() const { return options_; }
    // Random and repeat changed by a client other than the window; a random
    // order that starts begins a fresh round. PlayOrderChanged tells.
    void SetPlayOrder(bool random, bool repeat);
    // The hold before Next/Previous and after a start (tests shorten it).
    void SetHoldMs(int ms) { holdMs_ = ms < 0 ? 0 : ms; }
    // The next start of `entry` begins at `ms` (a resumed session).
    void SetResumePoint(int entry, int64_t ms);

    // ---- commands ----
    // Starts `entry` from its beginning (marked as played in a random round).
    // Without an entry (0) a list that has entries starts afresh (StartList).
    void PlayEntry(int entry);
    // A fresh list: random flags reset, the first entry (a random pick when
    // random) started.
    void StartList();
    // Paused: resume; stopped: start the current entry (PlayEntry); playing: nothing.
    void Play();
    // Playing: pause; paused: resume; stopped: nothing.
    void Pause();
    // Stopped: Play; otherwise Pause.
    void PlayPause();
    void Stop();
    void Next();
    void Previous();
    // To `ms` of the entry playing or paused; nothing when its length is unknown.
    void Seek(int64_t ms);
    void SetVolume(int volume);    // 0..100
    void SetBalance(int balance);  // -100..100
    void SetEqualizerEnabled(bool enabled);
    void SetEqualizerValue(int band, int gain);  // -100..100, 0.2 dB steps
    void SetReplayGain(TMP3ReplayGainMode mode, double preampDb, bool preventClipping);
    void SetDecodePriority(TThreadPriority priority);
    // The output device from the next start on (as the player's).
    void SetOutputDevice(const std::string& name);

    // The entry that follows `from` (-1: the current one); 0: none. Random
    // picks take their entry out of the pool; see TAdvance.
    int FollowingEntry(TAdvance how, int from = -1);

    // ---- state, as this thread knows it ----
    TPlayState State() const { return state_; }
    bool Playing() const { return state_ == TPlayState::Playing; }
    bool AutoAdvance() const { return autoAdvance_; }
    // A hold runs, or commands wait for one.
    bool Holding() const { return holding_; }
    // Started, not yet reported open or failed.
    bool Opening() const { return opening_; }
    int CurrentEntry() const { return playlist_.CurrentEntry; }
    // The path handed to the player for the current entry (the cache copy
    // once one is made); empty when none.
    const QString& PlayingPath() const { return playingPath_; }
    bool IsOpen() const { return open_; }
    // The output waits for its sound server (OutputStateChanged).
    bool OutputWaiting() const { return outputWaiting_; }
    // Of the entry open; empty when none is.
    const TEntryFacts& Facts() const { return facts_; }
    TTrackInfo Track() const;
    // The position as last reported, carried on by the clock while playing.
    // After a start, a seek or a resume it stays where it was until the
    // player reports sound heard from there (the output's latency), so that
    // it never runs ahead of what is heard and then stands still.
    int64_t PositionMs() const;
    int64_t LengthMs() const { return open_ ? facts_.LengthMs : 0; }
    int Volume() const { return volume_; }
    int Balance() const { return balance_; }
    bool EqualizerEnabled() const { return eqEnabled_; }
    int EqualizerValue(int band) const;
    int EqualizerFrequency(int band) const;  // Hz
    TThreadPriority DecodePriority() const { return priority_; }
    int Failures() const { return failures_; }
    // The player's sound output, for level meters (its peaks are thread-safe).
    TSoundOut* Output() const { return output_; }

    // Runs `look` on the player's thread with the player and waits (tests,
    // tools).
    void Inspect(const std::function<void(TMP3Player&)>& look);

signals:
    // The current entry is being started (0: there is none).
    void EntryStarting(int entry);
    // The entry plays (Facts() tell its file); `gapless` when the player
    // played on into it from the one before (no EntryStarting came first).
    void EntryStarted(int entry, bool gapless);
    // The entry could not be played; `text` says why.
    void EntryFailed(int entry, const QString& text);
    void StateChanged(wl::TPlayState state, wl::TStopCause cause);
    void PositionChanged(qint64 positionMs, qint64 lengthMs);
    // A seek has taken effect at this position.
    void Seeked(qint64 positionMs);
    // Track() changed.
    void MetadataChanged();
    void StepShown(wl::TStep step);
    void VolumeChanged(int volume);
    void PlayOrderChanged(bool random, bool repeat);
    // Something failed; `text` is for the status line.
    void Error(const QString& text);
    // The sound output lost its server and reconnects (`waiting`; the
    // position stands meanwhile), or plays again (`text` empty), or has news
    // (`text`, e.g. a missing output replaced by the default one).
    void OutputStateChanged(bool waiting, const QString& text);
    // A station's news for the status line ("Buffering 40 %", a reconnection);
    // empty when it plays again.
    void LiveStatus(const QString& text);
    // A station list fetched in place of entry `entry` became `count` entries.
    void StationsExpanded(int entry, int count);

private:
    enum class TCommand : uint8_t { PlayEntry, StartList, Play, Pause, PlayPause, Stop, Next, Previous, Seek };
    struct TQueued {
        TCommand command;
        int entry = 0;
        int64_t ms = 0;
        uint64_t generation = 0;  // a seek's: what played when it was given
    };
    // An entry given to the player to play on into.
    struct THanded {
        int entry = 0;
        bool randomPick = false;
        QString path;
        // A track of the same file that begins where the one before ends:
        // played on into within the open file.
        bool inFile = false;
        TSampleRange range;
        TReplayGain gain;  // the track's own loudness values (an album sheet's)
    };
    static constexpr size_t kHandAhead = 2;
    // What the player's thread is asked to open.
    struct TOpenRequest {
        uint64_t generation = 0;
        int entry = 0;
        QString path;
        QString name;  // for messages
        TSampleRange range;
        TReplayGain gain;
        int64_t startMs = 0;
        bool useCache = false;
        QString cachePath;
        std::vector<THanded> upcoming;  // to play on into, in order
        bool station = false;           // a URL: played live
        QString codePage;
    };

    void Submit(TQueued command);
    void RunQueue();
    void Apply(const TQueued& command);
    void Hold(std::function<void()> then);
    void HoldEnded();
    void FinishMoves();
    void StartCurrent();
    void StartNewRound();
    void DoPause();
    void DoResume();
    void DoStop(TStopCause cause);
    void Advance();  // at the end of an entry, or after a failure
    void SetState(TPlayState state, TStopCause cause = TStopCause::None);
    std::vector<THanded> TopUpHandOver();  // picks up to kHandAhead; returns the new ones
    void HandOverMore();                   // picks and gives them to the player
    void CancelHandOver(bool tellPlayer);
    // The list was sorted or tidied (PlaylistModel::Reordered): the entry
    // numbers kept here follow their entries, and what was handed to the
    // player to play on into is handed anew.
    void ListReordered(const std::vector<int>& from);
    // On the player's thread: the first of upcoming_ handed to the player
    // (as its next file or as the next range of the open one), or none.
    void GiveNextOnPlayer(TMP3Player& player);
    void Fail(uint64_t generation, const QString& text);

    // Reports from the player's thread.
    void Started(uint64_t generation, const TEntryFacts& facts);
    void Ended(uint64_t generation, TMP3EndPlayReason reason);
    void NextStarted(uint64_t generation, int entry, const TEntryFacts& facts);
    void Positioned(uint64_t generation, int64_t positionMs, bool seeked);
    void LiveNews(uint64_t generation, const TLiveNews& news);
    void ExpandStations(uint64_t generation, int entry, const QByteArray& body, const QString& url,
                        const QString& contentType);

    // On the player's thread.
    void OpenOnPlayer(TMP3Player& player, const TOpenRequest& request);
    void PlayedOnOnPlayer(TMP3Player& player);
    void OpenStationOnPlayer(TMP3Player& player, const TOpenRequest& request);
    TEntryFacts FactsOf(TMP3Player& player, const QString& file, const QString& source) const;
    template <class F>
    void Report(F&& f) {
        QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
    }

    PlaylistModel playlist_;
    TPlayOptions options_;
    int holdMs_ = kHoldMs;

    std::deque<TQueued> queue_;
    bool holding_ = false;
    QTimer holdTimer_;
    std::function<void()> afterHold_;
    std::deque<TCommand> moves_;  // Next/Previous applied at the hold's end
    int moveBase_ = 0;            // the current entry when the first of them came
    bool playedOnDuringMoves_ = false;

    // What plays; every start and stop makes a new generation, and reports of
    // an older one are stale.
    uint64_t generation_ = 0;
    std::atomic<uint64_t> latestGeneration_{0};  // read by the player's thread: an open asked for since is skipped
    TPlayState state_ = TPlayState::Stopped;
    bool autoAdvance_ = false;
    bool opening_ = false;
    bool open_ = false;
    bool outputWaiting_ = false;
    bool endPending_ = false;   // the entry ended during a hold
    int listDepth_ = 0;         // station lists expanded since an entry last started
    int failures_ = 0;          // entries in a row that could not be played
    QString playingPath_;
    TEntryFacts facts_;
    int startedEntry_ = 0;     // the entry last started, and its file
    QString startedSource_;
    std::deque<THanded> handed_;  // given to the player to play on into, in order
    int resumeEntry_ = 0;
    int64_t resumeMs_ = 0;
    int64_t positionMs_ = 0;
    QElapsedTimer positionClock_;
    // Held at heldAtMs_ until the player reports a position beyond it (PositionMs).
    bool clockHeld_ = false;
    int64_t heldAtMs_ = 0;
    // The clock waits for a report; the player reports more often until then.
    void HoldClock(bool tellPlayer);

    int volume_ = 100;
    int balance_ = 0;
    bool eqEnabled_ = true;
    std::array<int, kEqualizerBands> eqGains_{};
    std::array<int, kEqualizerBands> eqFrequencies_{};
    TThreadPriority priority_ = TThreadPriority::tpNormal;
    TSoundOut* output_ = nullptr;

    // Last: goes first, so that no report reaches a half-destroyed controller.
    std::unique_ptr<TPlayerThread> player_;
    uint64_t playerGeneration_ = 0;  // the player's thread only: the generation it has open
    // The player's thread only: what the player holds to play on into, and
    // the first of them when they were last withdrawn.
    std::deque<THanded> upcoming_;
    THanded withdrawn_;
};

}  // namespace wl
