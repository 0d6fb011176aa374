// TMP3Player: plays one MPEG audio file at a time through TSoundOut. The
// host calls every operation on one thread of its own and drains the player's
// message queue (Messages().ProcessMessages()) on that thread; the decoding
// and output threads only post messages, so the events fire while the host
// drains.
//
// Failures in the engine: the player's and the sound output's operations
// raise EMP3Error whose text names the failure and the operation
// ("... (TSoundOut.Open:WaveOutOpen)"). The output devices below answer
// integer codes (kOutput*, engine/audio_device.h), which TSoundOut turns into
// EMP3Error. A failure on the decoding or output thread cannot be thrown to
// the host: it goes to OnError on the host's thread (unset: the show-exception
// handler, SetShowExceptionHandler in engine/threads.h) and ends playback as
// an error (mepError), as the end of the file would. Stop, Position and the
// draining of the queue never throw: what fails there goes to OnError too.
//
// A sound server that goes away is not a failure: the output waits for it and
// plays on where it stopped; OnOutputState tells the host.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "decoder/flag_set.h"
#include "decoder/frame_header.h"
#include "engine/frame_index.h"
#include "engine/frame_walk.h"
#include "engine/message_queue.h"
#include "engine/sound_out.h"
#include "engine/stream_open.h"
#include "io/live_source.h"
#include "io/stream_reader.h"
#include "engine/threads.h"
#include "info/mp3_info.h"

namespace wl {

enum TMP3PlayerStatus : uint8_t { mpsStopped = 0, mpsPlaying = 1, mpsPaused = 2 };
enum TMP3EndPlayReason : uint8_t { mepEndOfStream = 0, mepStopped = 1, mepError = 2 };
enum TMP3EqualizerMode : uint8_t { memSubBand = 0, memFreq = 1 };
enum TMP3CpuCapability : uint8_t { mccMMX = 0, mcc3DNow = 1, mccKNI = 2, mccE3DNow = 3, mccCMOV = 4, mccEMMX = 5 };

// A set of TMP3CpuCapability members (bit k = member k).
class TMP3CpuCapabilities : public TFlagSet<TMP3CpuCapability, 6> {
public:
    using TFlagSet::TFlagSet;
    constexpr TMP3CpuCapabilities(TFlagSet set) : TFlagSet(set) {}

    // The capability-word bits of the members (cfMMX ... cfEMMX).
    uint32_t CapabilityWord() const;
    // The members whose bits the capability word has.
    static TMP3CpuCapabilities FromCapabilityWord(uint32_t word);
};

// Messages of the player's queue (numbers fixed).
inline constexpr uint32_t MPM_CHANGEPOSITION = 0x40A;
inline constexpr uint32_t MPM_WORKERERROR = 0x40B;
inline constexpr uint32_t MPM_ENDOFSTREAM = 0x40C;
inline constexpr uint32_t MPM_CHANGESTATUS = 0x40E;
inline constexpr uint32_t MPM_ENDPLAY = 0x40F;
inline constexpr uint32_t MPM_EQUALIZER = 0x410;
inline constexpr uint32_t MPM_NEXTSTARTED = 0x411;
inline constexpr uint32_t MPM_OUTPUTSTATE = 0x412;
inline constexpr uint32_t MPM_LIVENEWS = 0x413;

// Which ReplayGain value the output applies.
enum TMP3ReplayGainMode : uint8_t { mrgOff = 0, mrgTrack = 1, mrgAlbum = 2 };

// What a live stream has to tell the host.
struct TLiveNews {
    enum class TKind : uint8_t {
        Buffering,     // filling the buffer (before sound, or after an underrun): percent
        Playing,       // the buffer is full again and the sound goes on
        Title,         // the title heard from now on: text (UTF-8, may be empty)
        Reconnecting,  // the connection dropped and is tried again: text
        Failed,        // the station is given up: text; the entry ends as at its end
    };
    TKind kind = TKind::Buffering;
    int32_t percent = 0;
    std::string text;
};

class TMP3Player;
using TNotifyEvent = std::function<void(TMP3Player* sender)>;
using TMP3EndPlayEvent = std::function<void(TMP3Player* sender, TMP3EndPlayReason reason)>;
using TMP3ErrorEvent = std::function<void(TMP3Player* sender, const std::exception& error)>;

class TMP3Player : private TMPMessageOwner {
public:
    static constexpr int32_t kBandCount = 32;
    static constexpr int32_t kReaderCapacity = 65536;
    static constexpr int32_t kPcmBufferSize = 5120;

    // The output device is looked up by name at each Play (empty:
    // WAVELANTERN_AUDIO, else pulse).
    explicit TMP3Player(std::string outputDevice = {});
    // The output device comes from the factory at each Play.
    explicit TMP3Player(TSoundOut::DeviceFactory factory);
    ~TMP3Player() override;
    TMP3Player(const TMP3Player&) = delete;
    TMP3Player& operator=(const TMP3Player&) = delete;

    // Host side.
    TMessageQueue& Messages() { return messages_; }
    // The sound output, for level meters (its peak readings are thread-safe).
    TSoundOut* Output() { return output_.get(); }
    // Property values being applied at start-up: Volume 0 takes the device's
    // volume, AutoOpen and FileName do not open. Loaded ends it.
    void BeginLoad() { loading_ = true; }
    void Loaded();
    // Takes effect at the next Play.
    void SetOutputDevice(std::string name);

    // Operations.
    void Open();
    // Opens an already open stream (owned) the way Open opens FileName.
    void OpenStream(std::unique_ptr<TStream> stream);
    // The same, with the name the stream goes by (FileName: a URL).
    void OpenStream(std::unique_ptr<TStream> stream, const std::string& name);
    void Close();
    void Play();
    void Pause();
    void Resume();
    void Stop();
    // Lands on the music sample at or after the time. Once the frame index
    // of a file is complete (built in the background after opening, see
    // FrameIndexComplete), that sample is the first heard in every file;
    // until then, and in streams that are not files, untrimmed streams land
    // on the frame boundary at or after it.
    void Seek(int64_t milliseconds);
    int64_t Position();
    int64_t Length() const;

    // The part of a file that plays: `sampleCount` samples per channel (-1:
    // to the end) from `firstSample` on, counted from the music's first
    // sample (after the encoder's delay where the file gives it, else from
    // the first decoded sample). Applies to the file opened next
    // (SetFileName, Open, OpenStream) and to every one after it until set
    // again; (0, -1) plays whole files. Playback starts and ends on the
    // range's samples exactly and ends with the end-of-stream event;
    // Length is the range's, Position and Seek count from its start. A
    // range beyond the music's end, or an empty one, plays nothing and ends
    // at once. A gapless next file (SetNextFileName) plays whole.
    void SetPlayRange(int64_t firstSample, int64_t sampleCount);
    int64_t PlayRangeFirst() const { return rangeFirst_; }
    int64_t PlayRangeCount() const { return rangeCount_; }

    // Gapless playback: the file to play after the open one, handed over
    // early. When the open file's audio is used up, the next one is opened
    // and, when it has the same sample rate and channel count, decoded on
    // into the same output without a gap; OnNextStarted fires when its first
    // sample is heard and the player's file facts (FileName, Length, tags…)
    // move to it. Otherwise playback ends as usual and the host starts the
    // next file itself. Empty: none. Stop, Seek and Close take a switch
    // under way as done.
    void SetNextFileName(const std::string& name);
    std::string NextFileName() const;
    TNotifyEvent OnNextStarted;

    // Play-on within the open file: the range to play after the open one,
    // handed over early (`firstSample` must be where the open range ends;
    // `sampleCount` -1: to the end). The walk decodes on from the open
    // range's end into it with the same decoder, without reopening or a gap;
    // OnNextStarted fires when its first sample is heard, and from then on
    // Length, Position and Seek count from its start. A negative first
    // withdraws it (too late once it is decoded into). Seek and Stop before
    // it is heard keep the open range and the hand-over, Close drops it. A
    // range that does not follow on is never played on into: the open one
    // ends as usual. Not for live streams. `gain`: the range's own loudness
    // values (as SetPlayGain), applied from its first sample on.
    void SetNextRange(int64_t firstSample, int64_t sampleCount, const TReplayGain& gain = {});
    // Loudness values that stand for the file's own (each value given
    // replaces the tag's), for the file opened next and every one after it
    // until set again, as SetPlayRange: an album sheet's values for its track.
    void SetPlayGain(const TReplayGain& gain);

    // ReplayGain: the mode, a pre-amplification (-12..12 dB) and whether a
    // stored peak limits the gain so that nothing clips. Album falls back to
    // track. Applies from the next file (and at once to the open one).
    void SetReplayGain(TMP3ReplayGainMode mode, double preampDb, bool preventClipping);
    TMP3ReplayGainMode ReplayGainMode() const { return rgMode_; }
    // The linear gain the open file is played with (1 without ReplayGain).
    double AppliedGain() const;

    // Live streams (a TLiveSource given to OpenStream; engine/live.cpp): the
    // length is unknown (Length 0, Seek does nothing) and the position counts
    // the time heard. An empty buffer is an underrun, not the end: the output
    // plays out what it holds, the player waits for the pre-buffer to fill
    // and goes on with a fade-in. A reconnection's break starts the decoder
    // afresh on the new bytes (a frame is never made of both sides). Titles
    // are told (OnLiveNews) when the audio they belong to is heard. A pause
    // longer than kLivePauseKeepMs resumes live: what was buffered is dropped
    // and the station connected again. After Stop, Play connects again (Close
    // disconnects).
    static constexpr int64_t kLivePauseKeepMs = 30000;
    bool IsLive() const { return live_ != nullptr; }
    // The open live stream (host side; nullptr when none).
    TLiveSource* Live() const { return live_; }
    // The title heard last (empty before the first).
    const std::string& LiveTitle() const { return liveTitle_; }
    // The longest pause that resumes where it paused (tests shorten it).
    void SetLivePauseKeepMs(int64_t ms) { livePauseKeepMs_ = ms; }
    std::function<void(TMP3Player* sender, const TLiveNews& news)> OnLiveNews;

    // Whether every frame of the open file is indexed, and how long that took
    // (the index of a gapless next file is built once it is decoded on).
    bool FrameIndexComplete() const { return index_.Complete(); }
    double FrameIndexBuildMs() const { return index_.BuildMs(); }

    // Read-only facts of the open file.
    TMP3PlayerStatus Status() const { return status_.load(); }
    bool IsOpen() const { return stream_ != nullptr; }
    // The player's own decoder (tests read its equalizer tables).
    DecoderState& Decoder() { return *decoder_; }
    int32_t Bitrate() const { return bitrate_; }
    int32_t SampleRate() const { return sampleRate_; }
    int32_t Channels() const { return channels_; }
    int32_t Layer() const { return layer_; }
    int32_t Version() const { return version_; }
    const TMP3Info& Info() const { return info_; }
    // A live stream's album is its station's name.
    std::string Album() const { return live_ ? live_->Facts().name : info_.Album(); }
    std::string Artist() const { return info_.Artist(); }
    std::string Comment() const { return info_.Comment(); }
    std::string Genre() const { return info_.Genre(); }
    std::string Track() const { return info_.Track(); }
    std::string Year() const { return info_.Year(); }
    std::string Title() const;

    // Published properties.
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool value);
    bool AutoPlay() const { return autoPlay_; }
    void SetAutoPlay(bool value);
    int32_t ChangePosStep() const { return changePosStep_; }
    void SetChangePosStep(int32_t ms);
    TThreadPriority DecodePriority() const { return decodePriority_; }
    void SetDecodePriority(TThreadPriority priority);
    bool EqualizerEnabled() const { return eqEnabled_; }
    void SetEqualizerEnabled(bool value);
    int32_t EqualizerCount() const { return eqCount_; }
    void SetEqualizerCount(int32_t value);
    TMP3EqualizerMode EqualizerMode() const { return eqMode_; }
    void SetEqualizerMode(TMP3EqualizerMode mode);
    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& name);
    TMP3InfoType NeedInfoType() const { return info_.NeedInfoType(); }
    void SetNeedInfoType(TMP3InfoType value) { info_.SetNeedInfoType(value); }
    bool NoisySeek() const { return noisySeek_.load(); }
    void SetNoisySeek(bool value) { noisySeek_.store(value); }
    bool InvertPolarity();
    void SetInvertPolarity(bool value);
    TMP3CpuCapabilities UsingCpuCapabilities() const { return usingCpu_; }
    void SetUsingCpuCapabilities(TMP3CpuCapabilities value);
    int32_t VolBalance() const { return volBalance_; }
    void SetVolBalance(int32_t value);
    int32_t Volume() const { return volume_; }
    void SetVolume(int32_t value);

    // Equalizer bands (0..31).
    int32_t EqualizerValue(int32_t band) const;
    void SetEqualizerValue(int32_t band, int32_t value);
    int32_t EqualizerFrequency(int32_t band) const;
    void SetEqualizerFrequencies(int32_t low, int32_t high);

    TNotifyEvent OnChangeStatus;
    TNotifyEvent OnChangePosition;
    TMP3EndPlayEvent OnEndPlay;
    // A failure on the decoding or output thread, before the end it causes.
    TMP3ErrorEvent OnError;
    // The output lost its sound server and reconnects (`waiting`), or plays
    // again, or has news (a missing sink replaced by the default one).
    std::function<void(TMP3Player* sender, bool waiting, const std::string& text)> OnOutputState;

private:
    void Init();
    void Dispatch(TMessage& message) override;  // the decoding thread's steps
    void HandleMessage(TMessage& message);     // the host's queue
    void Handle(TMessage& message);
    void SetStatus(TMP3PlayerStatus status);
    void PostOnce(uint32_t msg) { messages_.PostOnce(msg); }
    void WorkerError(const std::exception& error, bool& handled);
    void Report(const std::exception& error);
    void DeliverOutputStates();
    void InstallProgress();
    void RemoveProgress();
    // Fills the decoder's tables; true when what they do to the sound changed.
    bool ApplyEqualizer();
    void RefreshEqualizer();
    void UpdateOutputGain();  // under outputLock_
    // Both locks held: the reader at frame k (from the frame index when it
    // holds k, else scanning forward through the frame table when needed;
    // beyond the last frame: the last), with the frames before it that k
    // depends on set to be decoded and dropped. Returns the frame landed on.
    int64_t Locate(int64_t k);
    // Puts the walk where the PCM byte `targetBytes` of the position count
    // will be decoded (frameAfter: the frame boundary at or after it, for
    // untrimmed streams); answers the position count it lands on.
    int64_t Reposition(int64_t targetBytes, bool frameAfter);
    // Both locks held: drops the queued output and decodes again from the
    // play position (after an equalizer change).
    void RestartAtPlayPosition();
    int32_t BandCount() const;
    int32_t NearestBand(int32_t target) const;
    // Decode lock held: the walk back at the start of what plays (the
    // range's first sample, or the audio's first byte).
    void RewindWalk();

    // Gapless switching (gapless.cpp).
    struct TNextStream {
        std::string fileName;
        std::unique_ptr<TStream> stream;
        TMPStreamReader reader{kReaderCapacity};
        TMP3Info info;
        std::unique_ptr<DecoderState, void (*)(DecoderState*)> decoder = NewDecoder();
        TStreamFacts facts;
    };
    bool SwitchToNext();             // decoding thread, decode lock held
    // Host thread. `ended`: at the end of the stream, a switch not yet
    // noticed as heard has been played out and is done; otherwise (Stop,
    // Seek) a range switch not yet heard is undone.
    void CompleteSwitch(bool ended = false);
    void CheckSwitchHeard();         // output lock held
    // Play-on into the next range (gapless.cpp), both locks held: the walk
    // extended over the handed range, or back to the open range's end; and
    // the switch taken (true) or undone.
    void ArmNextRange();
    void DisarmNextRange();
    bool CompleteRangeSwitch(bool ended);
    // Decode and output locks held: PCM up to a range switch was written,
    // the host should hear of the switch promptly.
    void WatchRangeSwitch();
    double GainFor(const TMP3Info& info, const TStreamFacts& facts, const TReplayGain& given = {}) const;
    void ApplyGain(double linear);   // output lock held

    // Live streams (live.cpp).
    // Decode lock held: whether a frame may be decoded now; Wait: the step
    // waits for bytes (run event reset); Poll: short of bytes while the output
    // plays, the step looks again after LivePoll (without the lock).
    enum class TLiveStep : uint8_t { Decode, Wait, Poll };
    TLiveStep LiveReady();
    static void LivePoll();
    void LiveStamp(int64_t frameEnd);   // decode lock held: titles up to the frame just decoded
    void LiveHeard();                   // output lock held: titles now heard go to the host
    void PostLive(TLiveNews news);
    void DeliverLiveNews();
    void RestartLive();                 // both locks held: drops the buffer, connects afresh
    void OpenLive();                    // at OpenStream of a live stream

    // Playback (decoding thread).
    void PlaybackStep();
    void DrainAndEnd(std::unique_lock<TMPSimpleMutex>& decode);
    void HandOver(int32_t& free);

    // Frame table.
    class TFrameTable {
    public:
        void Clear();
        void Add(int64_t offset);
        int64_t Count() const;
        int64_t At(int64_t k) const;
        std::recursive_mutex& Lock() { return mutex_; }

    private:
        mutable std::recursive_mutex mutex_;
        std::vector<int64_t> offsets_;
    };

    // Open file.
    std::unique_ptr<TStream> stream_;
    TMPStreamReader reader_{kReaderCapacity};
    TMP3Info info_;
    // The decoder of the open stream, the player's own.
    std::unique_ptr<DecoderState, void (*)(DecoderState*)> decoder_ = NewDecoder();
    TFrameWalker walk_;  // under decodeLock_
    TFrameTable frameTable_;
    // Built in the background for files (not live streams); started and
    // cancelled under decodeLock_.
    TFrameIndex index_;
    int32_t bitrate_ = 0;
    int32_t sampleRate_ = 0;
    int32_t channels_ = 0;
    int32_t layer_ = 0;
    int32_t version_ = 0;
    int32_t bitsPerSample_ = 16;
    int64_t totalPcmBytes_ = 0;
    TStreamFacts openFacts_;  // of the open file (host thread)
    // The play range for files opened from now on, and the open file's
    // (host thread; a gapless next file has none).
    int64_t rangeFirst_ = 0;
    int64_t rangeCount_ = -1;
    int64_t openRangeFirst_ = 0;
    int64_t openRangeCount_ = -1;

    // Playback.
    std::unique_ptr<uint64_t[]> pcmStorage_;  // 8-byte aligned PCM buffer
    uint8_t* pcm_ = nullptr;
    int32_t pcmPending_ = 0;       // under decodeLock_
    int64_t playedBytes_ = 0;      // under outputLock_
    int64_t position_ = 0;         // under outputLock_
    // Bytes handed to the output since the start or the last seek, in the
    // same count as playedBytes_ (under outputLock_), and where the next file
    // begins in that count (-1: no switch under way).
    int64_t writtenBytes_ = 0;
    int64_t switchAtBytes_ = -1;
    std::string nextFileName_;                // under decodeLock_
    uint32_t playCapabilities_ = 0;           // under decodeLock_: the routines chosen at Play
    std::unique_ptr<TNextStream> switched_;   // under decodeLock_: decoded on, not yet heard
    // Under decodeLock_: the range handed over to play on into (not yet
    // armed), and the one the walk is extended over (armed): it begins at
    // the music sample rangeSwitchAt_, which is switchAtBytes_ in the
    // written count until it is heard.
    struct TNextRange {
        bool set = false;
        int64_t first = 0;
        int64_t count = -1;
        TReplayGain gain;
    };
    TNextRange nextRange_;
    bool rangeArmed_ = false;
    int64_t rangeSwitchAt_ = 0;
    int64_t rangeSwitchCount_ = -1;
    // The armed range's loudness values and its gain, applied as its first
    // sample is written (under both locks); whether it has been.
    TReplayGain rangeSwitchGain_;
    double rangeGainLinear_ = 1.0;
    bool rangeGainApplied_ = false;
    TReplayGain playGain_;   // for the next open (SetPlayGain)
    TReplayGain openGain_;   // the open range's (under decodeLock_)
    bool rangeNotifyFast_ = false;  // under both locks
    TMP3ReplayGainMode rgMode_ = mrgOff;
    double rgPreampDb_ = 0;
    bool rgPreventClipping_ = true;
    double appliedGain_ = 1.0;                // under outputLock_
    // Changed by Stop and Seek: a drain that waited without the decode lock
    // learns that the stream was repositioned meanwhile.
    std::atomic<uint64_t> playGeneration_{0};
    std::atomic<TMP3PlayerStatus> status_{mpsStopped};
    std::atomic<TMP3EndPlayReason> endReason_{mepStopped};
    // Output news waiting for the host's queue.
    std::mutex outputStatesMutex_;
    std::vector<std::pair<bool, std::string>> outputStates_;

    // Properties.
    bool autoOpen_ = true;
    bool autoPlay_ = true;
    bool loading_ = false;
    std::string fileName_;
    int32_t changePosStep_ = 400;
    TThreadPriority decodePriority_ = TThreadPriority::tpNormal;
    bool eqEnabled_ = false;
    int32_t eqCount_ = 6;
    TMP3EqualizerMode eqMode_ = memSubBand;
    std::array<int32_t, kBandCount> gains_{};
    std::array<int32_t, kBandCount> frequencies_{};
    std::atomic<bool> noisySeek_{true};
    TMP3CpuCapabilities usingCpu_ = TMP3CpuCapabilities::All();
    int32_t volBalance_ = 0;
    int32_t volume_ = 100;
    double eqMakeUp_ = 1.0;  // the equalizer's boost, taken out of its tables

    // Live stream state.
    TLiveSource* live_ = nullptr;          // the open stream, when live
    bool liveRunning_ = false;             // under decodeLock_: between Play and Stop
    bool liveStarted_ = false;             // under decodeLock_: played before (Play connects again)
    bool liveBuffering_ = false;           // under decodeLock_: waiting for the pre-buffer
    bool liveEndTold_ = false;             // under decodeLock_: the failure was told
    int32_t liveShownPercent_ = -1;        // under decodeLock_
    std::atomic<bool> liveWaiting_{false}; // the step waits for bytes: arrivals wake it
    std::deque<TLiveTitle> liveTitles_;    // under decodeLock_: received, not yet decoded
    // Under outputLock_: titles decoded, with the written byte they begin at.
    std::deque<std::pair<int64_t, std::string>> liveHeard_;
    std::mutex liveNewsMutex_;
    std::vector<TLiveNews> liveNews_;
    std::chrono::steady_clock::time_point pausedAt_{};
    std::string liveTitle_;  // host thread
    int64_t livePauseKeepMs_ = kLivePauseKeepMs;

    // Declared last among the shared parts: the threads go first on destruction.
    TMessageQueue messages_;
    mutable TMPSimpleMutex outputLock_;
    mutable TMPSimpleMutex decodeLock_;
    std::unique_ptr<TSoundOut> output_;
    std::unique_ptr<TMPLoopThread> thread_;
};

}  // namespace wl
