#include "engine/mp3_player.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "decoder/cpu_features.h"
#include "decoder/decoder.h"

namespace wl {
namespace {

// Member k of TMP3CpuCapabilities and its capability-word bit.
constexpr uint32_t kMemberBits[6] = {cfMMX, cf3DNow, cfSSE, cfE3DNow, cfCMOV, cfEMMX};

// What a worker thread hands to the host with MPM_WORKERERROR; the worker
// waits for `done` before the exception goes out of scope.
struct TWorkerErrorNote {
    const std::exception* error = nullptr;
    TMPSimpleEvent done;
};

float GainFactor(int32_t gain) { return static_cast<float>(std::pow(10.0, gain / 100.0)); }

int32_t RoundEven(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

}  // namespace

uint32_t TMP3CpuCapabilities::CapabilityWord() const {
    uint32_t word = 0;
    for (int i = 0; i < 6; ++i) {
        if (Bits() & (1u << i)) word |= kMemberBits[i];
    }
    return word;
}

TMP3CpuCapabilities TMP3CpuCapabilities::FromCapabilityWord(uint32_t word) {
    uint8_t bits = 0;
    for (int i = 0; i < 6; ++i) {
        if (word & kMemberBits[i]) bits |= static_cast<uint8_t>(1u << i);
    }
    return FromBits(bits);
}

// ------------------------------------------------------------------ life

TMP3Player::TMP3Player(std::string outputDevice)
    : messages_([this](TMessage& m) { HandleMessage(m); }) {
    output_ = std::make_unique<TSoundOut>(std::move(outputDevice));
    Init();
}

TMP3Player::TMP3Player(TSoundOut::DeviceFactory factory)
    : messages_([this](TMessage& m) { HandleMessage(m); }) {
    output_ = std::make_unique<TSoundOut>(std::move(factory));
    Init();
}

void TMP3Player::Init() {
    // Routines the processor lacks are never offered to the decoder.
    usingCpu_ = TMP3CpuCapabilities::All() & TMP3CpuCapabilities::FromCapabilityWord(GetCpuFeatures());
    SelectRoutines(*decoder_, GetCpuFeatures());
    output_->SetNotifyInterval(changePosStep_);
    output_->SetOnError([this](void*, const std::exception& e, bool& handled) { WorkerError(e, handled); });
    output_->SetOnOutputState([this](bool waiting, const std::string& text) {
        {
            std::lock_guard<std::mutex> lock(outputStatesMutex_);
            outputStates_.emplace_back(waiting, text);
        }
        PostOnce(MPM_OUTPUTSTATE);
    });
    InstallProgress();
    thread_ = std::make_unique<TMPLoopThread>(static_cast<TMPMessageOwner*>(this));
    thread_->OnError = [this](void*, const std::exception& e, bool& handled) { WorkerError(e, handled); };
    thread_->Start();
}

TMP3Player::~TMP3Player() {
    // Nobody drains any more: release workers that wait for an error to be shown.
    for (TMessage& m : messages_.Close()) {
        if (m.Msg == MPM_WORKERERROR && m.WParam) reinterpret_cast<TWorkerErrorNote*>(m.WParam)->done.SetEvent();
    }
    try {
        Stop();
    } catch (const std::exception&) {
        // The device is released below whatever it answered.
    }
    try {
        Close();
    } catch (const std::exception&) {
    }
    thread_->Terminate();
    thread_.reset();
    output_.reset();
}

void TMP3Player::Loaded() {
    loading_ = false;
    if (eqMode_ == memFreq) SetEqualizerFrequencies(60, 16000);
    if (autoOpen_ && !fileName_.empty()) Open();
}

void TMP3Player::SetOutputDevice(std::string name) {
    std::lock_guard<TMPSimpleMutex> lock(outputLock_);
    output_->SetDeviceName(std::move(name));
}

// ------------------------------------------------------------ messages

void TMP3Player::SetStatus(TMP3PlayerStatus status) {
    const TMP3PlayerStatus old = status_.load();
    const bool ended = stream_ != nullptr && (old == mpsPlaying || old == mpsPaused) && status == mpsStopped;
    status_.store(status);
    PostOnce(MPM_CHANGESTATUS);
    if (ended) PostOnce(MPM_ENDPLAY);
}

void TMP3Player::WorkerError(const std::exception& error, bool& handled) {
    TWorkerErrorNote note;
    note.error = &error;
    if (!messages_.Post(MPM_WORKERERROR, reinterpret_cast<uintptr_t>(&note))) return;
    note.done.WaitFor(kInfinite);
    handled = true;
}

// Goes to OnError, else to the show-exception handler; never throws.
void TMP3Player::Report(const std::exception& error) {
    try {
        if (OnError)
            OnError(this, error);
        else
            ShowException(error);
    } catch (...) {
    }
}

void TMP3Player::DeliverOutputStates() {
    std::vector<std::pair<bool, std::string>> states;
    {
        std::lock_guard<std::mutex> lock(outputStatesMutex_);
        states.swap(outputStates_);
    }
    for (const auto& [waiting, text] : states)
        if (OnOutputState) OnOutputState(this, waiting, text);
}

void TMP3Player::HandleMessage(TMessage& m) {
    try {
        Handle(m);
    } catch (const std::exception& e) {
        Report(e);
    } catch (...) {
        Report(EMP3Error("unexpected failure"));
    }
}

void TMP3Player::Handle(TMessage& m) {
    switch (m.Msg) {
        case MPM_CHANGEPOSITION:
            messages_.RemovePending(MPM_CHANGEPOSITION);
            Position();  // notices a switch to the next file that is now heard
            if (OnChangePosition) OnChangePosition(this);
            break;
        case MPM_NEXTSTARTED:
            CompleteSwitch();
            break;
        case MPM_WORKERERROR: {
            auto* note = reinterpret_cast<TWorkerErrorNote*>(m.WParam);
            if (note && note->error) Report(*note->error);
            if (note) note->done.SetEvent();
            endReason_.store(mepError);
            Stop();
            break;
        }
        case MPM_ENDOFSTREAM:
            CompleteSwitch(true);
            endReason_.store(mepEndOfStream);
            Stop();
            break;
        case MPM_CHANGESTATUS:
            messages_.RemovePending(MPM_CHANGESTATUS);
            if (OnChangeStatus) OnChangeStatus(this);
            break;
        case MPM_ENDPLAY:
            messages_.RemovePending(MPM_ENDPLAY);
            if (OnEndPlay) OnEndPlay(this, endReason_.load());
            endReason_.store(mepStopped);
            break;
        case MPM_LIVENEWS:
            messages_.RemovePending(MPM_LIVENEWS);
            DeliverLiveNews();
            break;
        case MPM_OUTPUTSTATE:
            messages_.RemovePending(MPM_OUTPUTSTATE);
            DeliverOutputStates();
            break;
        case MPM_EQUALIZER:
            messages_.RemovePending(MPM_EQUALIZER);
            if (IsOpen()) RefreshEqualizer();
            break;
        default:
            break;
    }
}

void TMP3Player::InstallProgress() {
    output_->SetOnProgress([this](TSoundOut*) { messages_.Post(MPM_CHANGEPOSITION); });
}

void TMP3Player::RemoveProgress() { output_->SetOnProgress(nullptr); }

// ---------------------------------------------------------- operations

void TMP3Player::Open() {
    if (fileName_.empty()) {
        Close();
        return;
    }
    // Raises when the file cannot be opened; the open file stays.
    auto stream = std::make_unique<TFileStream>(fileName_);
    OpenStream(std::move(stream));
    if (autoPlay_) Play();
}

void TMP3Player::OpenStream(std::unique_ptr<TStream> stream) { OpenStream(std::move(stream), fileName_); }

void TMP3Player::OpenStream(std::unique_ptr<TStream> stream, const std::string& name) {
    const std::string keep = name;
    Close();
    fileName_ = keep;
    stream_ = std::move(stream);
    live_ = dynamic_cast<TLiveSource*>(stream_.get());
    try {
        frameTable_.Clear();
        TStreamFacts facts;
        {
            std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
            reader_.Open(stream_.get(), live_ == nullptr);
            pcmStorage_ = std::make_unique<uint64_t[]>(kPcmBufferSize / 8);
            pcm_ = reinterpret_cast<uint8_t*>(pcmStorage_.get());
            info_.Attach(&reader_);
            AnalyzeStream(reader_, info_, *decoder_, facts);
            if (live_) {
                // A header frame at a station's start tells of the track that
                // was starting, not of the stream: nothing is trimmed or ended.
                facts.trimStart = 0;
                facts.musicSamples = 0;
                facts.totalPcmBytes = 0;
            }
            walk_.Assign(&reader_, decoder_.get(), facts);
            pcmPending_ = 0;
            // Seeks become exact once every frame is known; a file is read
            // again for it on a thread of its own, never through reader_.
            if (!live_) {
                if (const auto* file = dynamic_cast<const TFileStream*>(stream_.get()))
                    index_.Start(file->Path(), walk_, facts.firstFrameOffset);
            }
        }
        frameTable_.Add(facts.firstFrameOffset);
        openRangeFirst_ = rangeFirst_;
        openRangeCount_ = rangeCount_;
        {
            std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
            openGain_ = playGain_;
        }
        if (rangeFirst_ > 0 || rangeCount_ >= 0) {
            std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
            std::lock_guard<TMPSimpleMutex> out(outputLock_);
            walk_.rangeFirst = rangeFirst_;
            walk_.rangeEnd = rangeCount_ >= 0 ? rangeFirst_ + rangeCount_ : -1;
            RewindWalk();
        }
        {
            std::lock_guard<TMPSimpleMutex> out(outputLock_);
            output_->SetSampleRate(facts.sampleRate);
            output_->SetBitsPerSample(facts.bitsPerSample);
            output_->SetChannels(facts.channels);
            playedBytes_ = 0;
            writtenBytes_ = 0;
            switchAtBytes_ = -1;
            position_ = 0;
        }
        layer_ = facts.layer;
        version_ = facts.version;
        sampleRate_ = facts.sampleRate;
        channels_ = facts.channels;
        bitsPerSample_ = facts.bitsPerSample;
        bitrate_ = facts.bitrate;
        totalPcmBytes_ = live_ ? 0 : facts.totalPcmBytes;
        openFacts_ = facts;
        if (live_) {
            std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
            OpenLive();
        }
        const double gain = GainFor(info_, facts, openGain_);
        std::lock_guard<TMPSimpleMutex> out(outputLock_);
        ApplyGain(gain);
    } catch (...) {
        Close();
        throw;
    }
    // Applied here as well, so that frames decoded before the host drains its
    // queue do not use the tables of the previous file.
    ApplyEqualizer();
    PostOnce(MPM_EQUALIZER);
    SetStatus(mpsStopped);
}

void TMP3Player::Close() {
    if (!stream_) return;
    if (Status() != mpsStopped) Stop();
    {
        std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
        switched_.reset();
        nextFileName_.clear();
        nextRange_ = {};
        rangeArmed_ = false;
        rangeGainApplied_ = false;
        rangeNotifyFast_ = false;
        index_.Cancel();
        reader_.Close();
        pcm_ = nullptr;
        pcmStorage_.reset();
        pcmPending_ = 0;
        walk_ = TFrameWalker{};
    }
    fileName_.clear();
    if (live_) live_->SetOnData(nullptr);
    live_ = nullptr;
    liveWaiting_.store(false);
    liveTitle_.clear();
    stream_.reset();
    info_.Reset();
    bitrate_ = channels_ = layer_ = version_ = sampleRate_ = 0;
    totalPcmBytes_ = 0;
    openRangeFirst_ = 0;
    openRangeCount_ = -1;
    {
        std::lock_guard<TMPSimpleMutex> out(outputLock_);
        playedBytes_ = 0;
        position_ = 0;
    }
    SetStatus(mpsStopped);
}

void TMP3Player::Play() {
    if (!stream_ || Status() != mpsStopped) return;
    try {
        {
            std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
            playCapabilities_ = (GetCpuFeatures() & ~kCapabilityBits) | usingCpu_.CapabilityWord();
            SelectRoutines(*decoder_, playCapabilities_);
            liveRunning_ = live_ != nullptr;
            if (live_ && liveStarted_) {
                std::lock_guard<TMPSimpleMutex> out(outputLock_);
                RestartLive();
            }
            liveStarted_ = live_ != nullptr;
        }
        {
            std::lock_guard<TMPSimpleMutex> out(outputLock_);
            InstallProgress();
            UpdateOutputGain();
            output_->Open();
        }
        thread_->RunEvent().SetEvent();
    } catch (...) {
        // Nothing plays: the output is closed again (a failed Open already is).
        std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
        std::lock_guard<TMPSimpleMutex> out(outputLock_);
        thread_->RunEvent().ResetEvent();
        try {
            output_->Close();
        } catch (...) {
        }
        throw;
    }
    SetStatus(mpsPlaying);
    endReason_.store(mepStopped);
    PostOnce(MPM_CHANGEPOSITION);
}

void TMP3Player::Pause() {
    if (Status() != mpsPlaying) return;
    {
        std::lock_guard<TMPSimpleMutex> out(outputLock_);
        output_->Pause();
    }
    pausedAt_ = std::chrono::steady_clock::now();
    SetStatus(mpsPaused);
}

void TMP3Player::Resume() {
    if (Status() != mpsPaused) return;
    const bool stale =
        live_ && std::chrono::steady_clock::now() - pausedAt_ > std::chrono::milliseconds(livePauseKeepMs_);
    {
        std::unique_lock<TMPSimpleMutex> decode(decodeLock_, std::defer_lock);
        if (stale) decode.lock();
        std::lock_guard<TMPSimpleMutex> out(outputLock_);
        // Paused too long to be worth hearing late: live again.
        if (stale) RestartLive();
        output_->Unpause();
    }
    SetStatus(mpsPlaying);
}

void TMP3Player::Stop() {
    if (!stream_ || Status() == mpsStopped) return;
    CompleteSwitch();
    std::exception_ptr failure;
    {
        std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
        {
            std::lock_guard<TMPSimpleMutex> out(outputLock_);
            ++playGeneration_;
            try {
                RemoveProgress();
                // Fades out instead of stopping dead; Close plays the tail.
                output_->Cut();
            } catch (...) {
                failure = std::current_exception();
            }
            try {
                output_->Close();
            } catch (...) {
                if (!failure) failure = std::current_exception();
            }
            thread_->RunEvent().ResetEvent();
            // The walk starts the open range again; a range handed over is
            // armed anew below.
            DisarmNextRange();
            playedBytes_ = 0;
            writtenBytes_ = 0;
            position_ = 0;
        }
        // An end of stream noticed before the stop is no longer news.
        messages_.RemovePending(MPM_ENDOFSTREAM);
        pcmPending_ = 0;
        if (live_) {
            // Nothing decoded until Play, which connects again (a live
            // stream cannot be rewound).
            liveRunning_ = false;
            liveWaiting_.store(false);
        }
        try {
            if (walk_.reader && !live_) {
                RewindWalk();
                // A range handed over to play on into still follows.
                std::lock_guard<TMPSimpleMutex> out(outputLock_);
                ArmNextRange();
            }
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    SetStatus(mpsStopped);
    PostOnce(MPM_CHANGEPOSITION);
    // Stopped whatever the device answered; its complaint is news, not a
    // reason to leave the host's operation by an exception.
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            Report(e);
        } catch (...) {
        }
    }
}

void TMP3Player::RewindWalk() {
    if (walk_.rangeFirst == 0 && walk_.rangeEnd < 0) {
        walk_.Rewind();
        return;
    }
    walk_.nextFrameLength = 0;
    walk_.needSetup = true;
    Reposition(0, false);
}

void TMP3Player::SetPlayGain(const TReplayGain& gain) {
    std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
    playGain_ = gain;
}

void TMP3Player::SetPlayRange(int64_t firstSample, int64_t sampleCount) {
    // Far beyond any file (800 years at 44.1 kHz), and no sum of positions
    // overflows.
    constexpr int64_t kMaxSample = int64_t{1} << 50;
    rangeFirst_ = std::clamp<int64_t>(firstSample, 0, kMaxSample);
    rangeCount_ = sampleCount < 0 ? -1 : std::min(sampleCount, kMaxSample);
}

int64_t TMP3Player::Length() const {
    if (live_) return 0;
    int64_t whole = 0;
    if (sampleRate_ > 0 && totalPcmBytes_ > 0) {
        whole = totalPcmBytes_ * 1000 / (int64_t{sampleRate_} * channels_ * 2);
    } else {
        int64_t audioLength;
        {
            std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
            audioLength = walk_.audioLength;
        }
        if (bitrate_ > 0 && stream_ && audioLength != kUnknownAudioLength) whole = audioLength * 8 * 1000 / bitrate_;
    }
    if ((openRangeFirst_ == 0 && openRangeCount_ < 0) || sampleRate_ <= 0 || channels_ <= 0) return whole;
    // A range: its end within the music (whose length may be an estimate
    // from the bitrate, as the whole file's Length is).
    const int64_t music = totalPcmBytes_ > 0 ? totalPcmBytes_ / (int64_t{channels_} * 2)
                                             : whole * sampleRate_ / 1000;
    int64_t end = openRangeCount_ >= 0 ? openRangeFirst_ + openRangeCount_ : music;
    if (totalPcmBytes_ > 0 || whole > 0) end = std::min(end, music);
    return std::max<int64_t>(end - openRangeFirst_, 0) * 1000 / sampleRate_;
}

std::string TMP3Player::Title() const {
    if (live_) {
        if (!liveTitle_.empty()) return liveTitle_;
        const std::string station = live_->Facts().name;
        return station.empty() ? fileName_ : station;
    }
    std::string title = info_.Title();
    if (title.empty() && !fileName_.empty()) {
        const size_t slash = fileName_.find_last_of('/');
        title = slash == std::string::npos ? fileName_ : fileName_.substr(slash + 1);
    }
    return title;
}

// ---------------------------------------------------------- properties

void TMP3Player::SetAutoOpen(bool value) {
    autoOpen_ = value;
    if (value && !loading_) Open();
}

void TMP3Player::SetAutoPlay(bool value) {
    autoPlay_ = value;
    if (IsOpen() && (Status() == mpsStopped || Status() == mpsPaused)) Play();
}

void TMP3Player::SetChangePosStep(int32_t ms) {
    if (ms < 100) return;
    changePosStep_ = ms;
    std::lock_guard<TMPSimpleMutex> out(outputLock_);
    output_->SetNotifyInterval(ms);
}

void TMP3Player::SetDecodePriority(TThreadPriority priority) {
    decodePriority_ = priority;
    thread_->SetPriority(priority);
}

void TMP3Player::SetEqualizerEnabled(bool value) {
    if (value == eqEnabled_) return;
    eqEnabled_ = value;
    PostOnce(MPM_EQUALIZER);
}

void TMP3Player::SetEqualizerCount(int32_t value) {
    if (value < 1 || value == eqCount_) return;
    eqCount_ = value;
    PostOnce(MPM_EQUALIZER);
}

void TMP3Player::SetEqualizerMode(TMP3EqualizerMode mode) {
    if (mode == eqMode_) return;
    eqMode_ = mode;
    PostOnce(MPM_EQUALIZER);
}

void TMP3Player::SetFileName(const std::string& name) {
    fileName_ = name;
    if (autoOpen_ && !loading_) Open();
}

bool TMP3Player::InvertPolarity() {
    std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
    return GetPolarity(*decoder_);
}

void TMP3Player::SetInvertPolarity(bool value) {
    std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
    SetPolarity(*decoder_, value);
}

void TMP3Player::SetUsingCpuCapabilities(TMP3CpuCapabilities value) {
    usingCpu_ = value & TMP3CpuCapabilities::FromCapabilityWord(GetCpuFeatures());
}

void TMP3Player::SetVolBalance(int32_t value) {
    if (value < -100 || value > 100) return;
    volBalance_ = value;
    std::lock_guard<TMPSimpleMutex> out(outputLock_);
    output_->SetBalance(value);
}

void TMP3Player::SetVolume(int32_t value) {
    if (value < 0 || value > 100) return;
    std::lock_guard<TMPSimpleMutex> out(outputLock_);
    if (value == 0 && loading_) {
        volume_ = output_->Volume();
        return;
    }
    volume_ = value;
    output_->SetVolume(value);
}

void TMP3Player::UpdateOutputGain() { output_->SetGain(appliedGain_ * eqMakeUp_); }

// ----------------------------------------------------------- equalizer

int32_t TMP3Player::BandCount() const { return std::min(eqCount_, kBandCount); }

int32_t TMP3Player::EqualizerValue(int32_t band) const {
    if (band < 0 || band >= kBandCount) return 0;
    return gains_[static_cast<size_t>(band)];
}

void TMP3Player::SetEqualizerValue(int32_t band, int32_t value) {
    if (value < -100 || value > 100 || band < 0 || band >= kBandCount) return;
    gains_[static_cast<size_t>(band)] = value;
    PostOnce(MPM_EQUALIZER);
}

int32_t TMP3Player::EqualizerFrequency(int32_t band) const {
    if (band < 0 || band >= kBandCount) return 0;
    if (eqMode_ == memFreq || sampleRate_ != 0) return frequencies_[static_cast<size_t>(band)];
    return 0;
}

void TMP3Player::SetEqualizerFrequencies(int32_t low, int32_t high) {
    if (eqMode_ != memFreq || low < 1 || low > high || high > 24000) return;
    // Counts above the tables' 32 bands spread over the 32 that exist.
    const int32_t n = BandCount();
    frequencies_[0] = low;
    for (int32_t i = 1; i <= n - 2; ++i) {
        const double prev = frequencies_[static_cast<size_t>(i - 1)];
        frequencies_[static_cast<size_t>(i)] = RoundEven(prev * std::pow(high / prev, 1.0 / (n - i)));
    }
    frequencies_[static_cast<size_t>(n - 1)] = high;
    PostOnce(MPM_EQUALIZER);
}

int32_t TMP3Player::NearestBand(int32_t target) const {
    const float t = static_cast<float>(target);
    float best = 2147483648.0f;
    int32_t winner = 0;
    for (int32_t b = 0; b < BandCount(); ++b) {
        const float f = static_cast<float>(std::max(frequencies_[static_cast<size_t>(b)], 1));
        float r = f / t;
        if (r < 1.0f) r = t / f;
        if (r < best) {
            best = r;
            winner = b;
        }
    }
    return winner;
}

void TMP3Player::RefreshEqualizer() {
    std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
    const bool changed = ApplyEqualizer();
    std::lock_guard<TMPSimpleMutex> out(outputLock_);
    if (!changed) return;
    // What is queued was decoded with the old tables: decode it again.
    RestartAtPlayPosition();
    UpdateOutputGain();
}

bool TMP3Player::ApplyEqualizer() {
    // Under the decode lock: the decoding thread never sees a half-written table.
    std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
    DecoderState& d = *decoder_;
    const int32_t oldSub = *SubbandEqEnabled(d), oldLine = *LineEqEnabled(d);
    std::array<float, 32> oldSubGain;
    std::array<float, 576> oldLineGain;
    std::copy(SubbandGain(d), SubbandGain(d) + 32, oldSubGain.begin());
    std::copy(LineGain(d), LineGain(d) + 576, oldLineGain.begin());
    const double oldMakeUp = eqMakeUp_;
    const auto changed = [&] {
        const int32_t sub = *SubbandEqEnabled(d), line = *LineEqEnabled(d);
        return sub != oldSub || line != oldLine || eqMakeUp_ != oldMakeUp ||
               (sub && !std::equal(oldSubGain.begin(), oldSubGain.end(), SubbandGain(d))) ||
               (line && !std::equal(oldLineGain.begin(), oldLineGain.end(), LineGain(d)));
    };

    const int32_t enabled = eqEnabled_ ? 1 : 0;
    // A boost is taken out of the tables and given back in the output stage,
    // whose limiter holds the peaks that would clip in the decoder below
    // full scale.
    int32_t headroom = 0;
    if (enabled) {
        const int32_t bands = eqMode_ == memSubBand ? kBandCount : BandCount();
        for (int32_t b = 0; b < bands; ++b) headroom = std::max(headroom, gains_[static_cast<size_t>(b)]);
    }
    eqMakeUp_ = headroom > 0 ? std::pow(10.0, headroom / 100.0) : 1.0;
    const auto factor = [&](int32_t band) { return GainFactor(gains_[static_cast<size_t>(band)] - headroom); };
    if (eqMode_ == memSubBand) {
        *SubbandEqEnabled(d) = enabled;
        *LineEqEnabled(d) = 0;
        float* gain = SubbandGain(d);
        for (int32_t i = 0; i < kBandCount; ++i) gain[i] = factor(i);
        if (sampleRate_ > 0) {
            for (int32_t i = 0; i < kBandCount; ++i) {
                frequencies_[static_cast<size_t>(i)] = RoundEven(sampleRate_ / 64.0 * (i + 0.5));
            }
        }
        return changed();
    }
    if (layer_ != 3) {
        *SubbandEqEnabled(d) = enabled;
        *LineEqEnabled(d) = 0;
        if (!enabled) return changed();
        float* gain = SubbandGain(d);
        for (int32_t i = 0; i < 32; ++i) {
            gain[i] = factor(NearestBand(std::max(RoundEven(sampleRate_ / 64.0 * (i + 0.5)), 1)));
        }
        return changed();
    }
    *SubbandEqEnabled(d) = 0;
    *LineEqEnabled(d) = enabled;
    if (!enabled) return changed();
    float* gain = LineGain(d);
    for (int32_t i = 0; i < 576; ++i) {
        gain[i] = factor(NearestBand(std::max(RoundEven(sampleRate_ / 1152.0 * (i + 0.5)), 1)));
    }
    return changed();
}

// ---------------------------------------------------------- frame table

void TMP3Player::TFrameTable::Clear() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    offsets_.clear();
}

void TMP3Player::TFrameTable::Add(int64_t offset) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    offsets_.push_back(offset);
}

int64_t TMP3Player::TFrameTable::Count() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return static_cast<int64_t>(offsets_.size());
}

int64_t TMP3Player::TFrameTable::At(int64_t k) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return offsets_.at(static_cast<size_t>(k));
}

}  // namespace wl
