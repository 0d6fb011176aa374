// Gapless playback: the next file is opened when the open one's audio is
// used up and, when its format matches, decoded on into the same output; the
// host learns of it when its first sample is heard. ReplayGain per file.
#include <algorithm>
#include <cmath>

#include "engine/mp3_player.h"

namespace wl {

namespace {

constexpr int32_t kSwitchNotifyMs = 40;

}  // namespace

void TMP3Player::SetNextFileName(const std::string& name) {
    std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
    nextFileName_ = name;
}

std::string TMP3Player::NextFileName() const {
    std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
    return nextFileName_;
}

bool TMP3Player::SwitchToNext() {
    if (nextFileName_.empty() || switched_ || rangeArmed_) return false;
    auto next = std::make_unique<TNextStream>();
    next->fileName = nextFileName_;
    nextFileName_.clear();
    try {
        next->stream = std::make_unique<TFileStream>(next->fileName);
        next->reader.Open(next->stream.get(), true);
        next->info.Attach(&next->reader);
        SelectRoutines(*next->decoder, playCapabilities_);
        AnalyzeStream(next->reader, next->info, *next->decoder, next->facts);
    } catch (const std::exception&) {
        return false;  // the host meets the error when it opens the file itself
    }
    const TStreamFacts& f = next->facts;
    if (f.sampleRate != sampleRate_ || f.channels != channels_ || f.bitsPerSample != bitsPerSample_) {
        return false;
    }
    // The new stream takes over the decoding side; the old reader and
    // decoder wait in `next` until the host takes the switch.
    SetPolarity(*next->decoder, GetPolarity(*decoder_));
    std::copy_n(SubbandGain(*decoder_), 32, SubbandGain(*next->decoder));
    std::copy_n(LineGain(*decoder_), 576, LineGain(*next->decoder));
    *SubbandEqEnabled(*next->decoder) = *SubbandEqEnabled(*decoder_);
    *LineEqEnabled(*next->decoder) = *LineEqEnabled(*decoder_);
    reader_.Swap(next->reader);
    std::swap(decoder_, next->decoder);
    walk_.Assign(&reader_, decoder_.get(), f);
    frameTable_.Clear();
    frameTable_.Add(f.firstFrameOffset);
    index_.Start(next->fileName, walk_, f.firstFrameOffset);
    pcmPending_ = 0;
    const double gain = GainFor(next->info, f);
    {
        std::lock_guard<TMPSimpleMutex> out(outputLock_);
        switchAtBytes_ = writtenBytes_;
        ApplyGain(gain);
        // Position news often until the switch is heard, so that the host
        // hears of it at once.
        output_->SetNotifyInterval(kSwitchNotifyMs);
    }
    switched_ = std::move(next);
    return true;
}

void TMP3Player::CheckSwitchHeard() {
    if (switchAtBytes_ < 0 || playedBytes_ < switchAtBytes_) return;
    playedBytes_ -= switchAtBytes_;
    writtenBytes_ -= switchAtBytes_;
    switchAtBytes_ = -1;
    PostOnce(MPM_NEXTSTARTED);
}

void TMP3Player::CompleteSwitch(bool ended) {
    bool withinFile = false;
    {
        std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
        if (rangeArmed_) {
            std::lock_guard<TMPSimpleMutex> out(outputLock_);
            if (!CompleteRangeSwitch(ended)) return;
            withinFile = true;
        } else if (!switched_) {
            return;
        }
    }
    if (withinFile) {
        // Played on within the file: the same stream, tags and gain.
        messages_.RemovePending(MPM_NEXTSTARTED);
        if (OnNextStarted) OnNextStarted(this);
        if (Status() != mpsStopped) thread_->RunEvent().SetEvent();
        PostOnce(MPM_CHANGEPOSITION);
        return;
    }
    {
        std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
        if (!switched_) return;
        std::unique_ptr<TNextStream> next = std::move(switched_);
        {
            std::lock_guard<TMPSimpleMutex> out(outputLock_);
            if (switchAtBytes_ >= 0) {
                // Taken before it was heard (Stop, Seek, Close, the end).
                playedBytes_ = std::max<int64_t>(playedBytes_ - switchAtBytes_, 0);
                writtenBytes_ = std::max<int64_t>(writtenBytes_ - switchAtBytes_, 0);
                switchAtBytes_ = -1;
            }
        }
        output_->SetNotifyInterval(changePosStep_);
        next->reader.Close();  // the old file's
        stream_ = std::move(next->stream);
        fileName_ = next->fileName;
        const TMP3InfoType need = info_.NeedInfoType();
        info_ = std::move(next->info);
        info_.SetNeedInfoType(need);
        const TStreamFacts& f = next->facts;
        layer_ = f.layer;
        version_ = f.version;
        bitrate_ = f.bitrate;
        totalPcmBytes_ = f.totalPcmBytes;
        openFacts_ = f;
        openRangeFirst_ = 0;  // the next file plays whole, by its own tags
        openRangeCount_ = -1;
        openGain_ = {};
        // A ReplayGain setting changed since the switch applies from here on.
        const double gain = GainFor(info_, openFacts_);
        std::lock_guard<TMPSimpleMutex> out(outputLock_);
        ApplyGain(gain);
    }
    messages_.RemovePending(MPM_NEXTSTARTED);
    ApplyEqualizer();
    if (OnNextStarted) OnNextStarted(this);
    // A step that found the audio used up waits for the file after this one.
    if (Status() != mpsStopped) thread_->RunEvent().SetEvent();
    PostOnce(MPM_CHANGEPOSITION);
}

// ------------------------------------------------- play-on within a file

void TMP3Player::SetNextRange(int64_t firstSample, int64_t sampleCount, const TReplayGain& gain) {
    std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
    std::lock_guard<TMPSimpleMutex> out(outputLock_);
    TNextRange wanted;
    if (firstSample >= 0 && sampleCount != 0) wanted = {true, firstSample, sampleCount < 0 ? -1 : sampleCount, gain};
    if (rangeArmed_) {
        if (wanted.set && wanted.first == rangeSwitchAt_ && wanted.count == rangeSwitchCount_ &&
            wanted.gain == rangeSwitchGain_)
            return;
        // Once decoded into (or heard) it stays; what is asked now waits for
        // the switch to be taken.
        const bool decodedInto = switchAtBytes_ < 0 || writtenBytes_ + pcmPending_ > switchAtBytes_;
        if (decodedInto) {
            nextRange_ = wanted;
            return;
        }
        DisarmNextRange();
    }
    nextRange_ = wanted;
    ArmNextRange();
}

void TMP3Player::ArmNextRange() {
    if (!nextRange_.set || rangeArmed_ || switched_ || live_ || !walk_.reader || walk_.sampleBytes <= 0) return;
    // Only a range that begins where the open one ends, before the music
    // does, and only while the walk has not used the open one up (a drain
    // may be under way: the host starts the next range itself).
    const int64_t end = walk_.rangeEnd;
    if (end < 0 || nextRange_.first != end || walk_.MusicEnd() != end || walk_.samplesLeft == 0) return;
    walk_.rangeEnd = nextRange_.count < 0 ? -1 : end + nextRange_.count;
    const int64_t newEnd = walk_.MusicEnd();
    if (walk_.samplesLeft >= 0) walk_.samplesLeft = newEnd < 0 ? -1 : walk_.samplesLeft + (newEnd - end);
    rangeSwitchAt_ = end;
    rangeSwitchCount_ = nextRange_.count;
    rangeSwitchGain_ = nextRange_.gain;
    rangeGainLinear_ = GainFor(info_, openFacts_, rangeSwitchGain_);
    rangeGainApplied_ = false;
    nextRange_ = {};
    rangeArmed_ = true;
    // The written count runs from the open range's first sample.
    switchAtBytes_ = (end - walk_.rangeFirst) * walk_.sampleBytes;
    WatchRangeSwitch();
}

void TMP3Player::DisarmNextRange() {
    if (!rangeArmed_) return;
    walk_.rangeEnd = rangeSwitchAt_;
    if (switchAtBytes_ >= 0) {
        const int64_t left = (switchAtBytes_ - writtenBytes_ - pcmPending_) / walk_.sampleBytes;
        walk_.samplesLeft = std::max<int64_t>(left, 0);
    }
    nextRange_ = {true, rangeSwitchAt_, rangeSwitchCount_, rangeSwitchGain_};
    rangeArmed_ = false;
    switchAtBytes_ = -1;
    // Written with the next range's gain, then taken back: the open range's again.
    if (rangeGainApplied_) ApplyGain(GainFor(info_, openFacts_, openGain_));
    rangeGainApplied_ = false;
    if (rangeNotifyFast_) output_->SetNotifyInterval(changePosStep_);
    rangeNotifyFast_ = false;
}

bool TMP3Player::CompleteRangeSwitch(bool ended) {
    if (!rangeArmed_) return false;
    if (switchAtBytes_ >= 0) {
        if (!ended) {
            DisarmNextRange();
            return false;
        }
        playedBytes_ = std::max<int64_t>(playedBytes_ - switchAtBytes_, 0);
        writtenBytes_ = std::max<int64_t>(writtenBytes_ - switchAtBytes_, 0);
        switchAtBytes_ = -1;
    }
    walk_.rangeFirst = rangeSwitchAt_;
    openRangeFirst_ = rangeSwitchAt_;
    openRangeCount_ = rangeSwitchCount_;
    openGain_ = rangeSwitchGain_;
    if (!rangeGainApplied_) ApplyGain(rangeGainLinear_);
    rangeGainApplied_ = false;
    rangeArmed_ = false;
    if (rangeNotifyFast_) output_->SetNotifyInterval(changePosStep_);
    rangeNotifyFast_ = false;
    // A range handed over meanwhile follows this one.
    ArmNextRange();
    return true;
}

void TMP3Player::WatchRangeSwitch() {
    if (!rangeArmed_ || switchAtBytes_ < 0 || writtenBytes_ < switchAtBytes_) return;
    // The next range's first sample is written: its gain from here on (the
    // write before stopped at it).
    if (!rangeGainApplied_) {
        ApplyGain(rangeGainLinear_);
        rangeGainApplied_ = true;
    }
    if (rangeNotifyFast_) return;
    // Position news often until the switch is heard, so that the host
    // hears of it at once.
    output_->SetNotifyInterval(kSwitchNotifyMs);
    rangeNotifyFast_ = true;
}

void TMP3Player::SetReplayGain(TMP3ReplayGainMode mode, double preampDb, bool preventClipping) {
    if (mode > mrgAlbum || !(preampDb >= -12 && preampDb <= 12)) return;
    std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
    rgMode_ = mode;
    rgPreampDb_ = preampDb;
    rgPreventClipping_ = preventClipping;
    // A switch decoded on but not heard yet keeps its own gain.
    if (switched_ || !walk_.reader) return;
    std::lock_guard<TMPSimpleMutex> out(outputLock_);
    if (rangeArmed_) rangeGainLinear_ = GainFor(info_, openFacts_, rangeSwitchGain_);
    ApplyGain(rangeArmed_ && rangeGainApplied_ ? rangeGainLinear_ : GainFor(info_, openFacts_, openGain_));
}

double TMP3Player::AppliedGain() const {
    std::lock_guard<TMPSimpleMutex> out(outputLock_);
    return appliedGain_;
}

double TMP3Player::GainFor(const TMP3Info& info, const TStreamFacts& facts, const TReplayGain& given) const {
    if (rgMode_ == mrgOff) return 1.0;
    // Values given for the range first, then the tag's, then the encoder's
    // header frame's.
    TReplayGain tag = info.ReplayGain();
    if (given.trackGainDb) tag.trackGainDb = given.trackGainDb;
    if (given.trackPeak) tag.trackPeak = given.trackPeak;
    if (given.albumGainDb) tag.albumGainDb = given.albumGainDb;
    if (given.albumPeak) tag.albumPeak = given.albumPeak;
    std::optional<double> db = tag.trackGainDb;
    std::optional<double> peak = tag.trackPeak;
    if (!db) db = facts.vbr.trackGainDb;
    if (rgMode_ == mrgAlbum) {
        const std::optional<double> album = tag.albumGainDb ? tag.albumGainDb : facts.vbr.albumGainDb;
        if (album) {
            db = album;
            if (tag.albumPeak) peak = tag.albumPeak;
        }
    }
    if (!db) return 1.0;
    if (!peak && facts.vbr.peak > 0) peak = facts.vbr.peak;
    double gain = std::pow(10.0, (*db + rgPreampDb_) / 20.0);
    if (rgPreventClipping_ && peak && *peak > 0) gain = std::min(gain, 1.0 / *peak);
    return gain;
}

void TMP3Player::ApplyGain(double linear) {
    appliedGain_ = linear;
    UpdateOutputGain();
}

}  // namespace wl
