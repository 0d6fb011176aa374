// The decoding thread's playback step, the end-of-stream drain, Seek with the
// frame index (or, until it is complete, a lazily built frame table), and
// Position.
//
// Repositioning (a seek, or decoding again after an equalizer change) starts
// the decoder a few frames before the target and drops their PCM: a Layer III
// frame may take its main data from up to 511 bytes of the frames before it,
// and its first granule overlaps the frame before. So the target frame and
// all after it sound exactly as in continuous play, never as decoder garbage.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <thread>

#include "engine/mp3_player.h"

namespace wl {

void TMP3Player::Dispatch(TMessage& message) {
    if (message.Msg == MPM_THREADSTEP) PlaybackStep();
}

void TMP3Player::PlaybackStep() {
    std::unique_lock<TMPSimpleMutex> decode(decodeLock_);
    TMPSimpleEvent& run = thread_->RunEvent();
    if (run.WaitFor(0) != kWaitObject0) return;
    if (!pcm_ || !walk_.reader) {
        run.ResetEvent();
        return;
    }
    if (pcmPending_ == 0) {
        if (live_) {
            if (!liveRunning_) {
                run.ResetEvent();
                return;
            }
            const TLiveStep step = LiveReady();
            if (step == TLiveStep::Poll) {
                decode.unlock();
                LivePoll();
                return;
            }
            if (step == TLiveStep::Wait) return;
        }
        if (walk_.AudioUsedUp()) {
            if (SwitchToNext()) return;
            if (switched_ || rangeArmed_) {
                // The host has not heard the last switch yet, so it could not
                // hand over the file after it. Wait, with everything decoded
                // queued to play (what the limiter delays too: a short file
                // may lie wholly in its delay line), and keep the host looking
                // at the position, which tells it when the switch is heard.
                {
                    std::lock_guard<TMPSimpleMutex> out(outputLock_);
                    output_->Flush();
                }
                decode.unlock();
                PostOnce(MPM_CHANGEPOSITION);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                return;
            }
            DrainAndEnd(decode);
            return;
        }
        if (walk_.DecodeNext(pcm_) != TFrameWalker::TStepResult::Decoded) return;
        // Nothing to hand over from a frame decoded only to prime the decoder,
        // or trimmed away before the music.
        pcmPending_ = walk_.lastPcmBytes;
        if (live_) LiveStamp(reader_.Position());
        if (pcmPending_ == 0) return;
    }
    int32_t free = 0;
    HandOver(free);
    decode.unlock();

    // The output is full: read the file ahead instead of spinning.
    while (free == 0) {
        {
            std::lock_guard<TMPSimpleMutex> again(decodeLock_);
            if (run.WaitFor(0) != kWaitObject0) break;
            if (!walk_.reader || !reader_.FillMore()) break;
        }
        std::lock_guard<TMPSimpleMutex> out(outputLock_);
        free = output_->FreePercent();
    }
    if (free <= 25) std::this_thread::yield();
}

void TMP3Player::HandOver(int32_t& free) {
    std::lock_guard<TMPSimpleMutex> out(outputLock_);
    if (output_->CanWrite()) {
        // A range played on into may have a gain of its own: the write stops
        // at its first sample so that the gain changes there exactly.
        int32_t count = pcmPending_;
        if (rangeArmed_ && !rangeGainApplied_ && switchAtBytes_ > writtenBytes_)
            count = static_cast<int32_t>(std::min<int64_t>(count, switchAtBytes_ - writtenBytes_));
        const int32_t n = output_->Write(pcm_, count);
        pcmPending_ -= n;
        writtenBytes_ += n;
        WatchRangeSwitch();
        if (pcmPending_ > 0 && n > 0) std::memmove(pcm_, pcm_ + n, static_cast<size_t>(pcmPending_));
    } else {
        TMPSimpleEvent& run = thread_->RunEvent();
        run.ResetEvent();
        output_->SetWaiter(&run);
    }
    free = output_->FreePercent();
}

void TMP3Player::DrainAndEnd(std::unique_lock<TMPSimpleMutex>& decode) {
    {
        std::lock_guard<TMPSimpleMutex> out(outputLock_);
        output_->SetWaiter(nullptr);
        output_->Flush();
    }
    // Wait for the device without the decode lock: a Pause now keeps the
    // buffers from draining, and Stop or Seek must still get through. They
    // reset the output (which ends this wait) and count a new generation.
    const uint64_t generation = playGeneration_.load();
    decode.unlock();
    output_->WaitAllDone();
    decode.lock();
    TMPSimpleEvent& run = thread_->RunEvent();
    if (generation != playGeneration_.load() || run.WaitFor(0) != kWaitObject0) return;
    run.ResetEvent();
    messages_.Post(MPM_ENDOFSTREAM);
}

void TMP3Player::Seek(int64_t milliseconds) {
    if (milliseconds < 0 || live_) return;
    const TMP3PlayerStatus status = Status();
    if (status != mpsPlaying && status != mpsPaused) return;
    CompleteSwitch();
    {
        std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
        std::lock_guard<TMPSimpleMutex> out(outputLock_);
        ++playGeneration_;
        RemoveProgress();
        // The old position fades out at once; a paused output stays paused.
        output_->Cut();
        messages_.RemovePending(MPM_ENDOFSTREAM);

        DisarmNextRange();
        pcmPending_ = 0;
        walk_.nextFrameLength = 0;
        playedBytes_ = 0;
        position_ = 0;
        if (!NoisySeek()) walk_.needSetup = true;

        // The sample at or after the time; with every frame indexed an
        // untrimmed stream drops the samples before it within its frame, as
        // a trimmed one always does.
        const int64_t sample = (milliseconds * sampleRate_ + 999) / 1000;
        playedBytes_ = Reposition(sample * channels_ * 2, !index_.Complete());
        writtenBytes_ = playedBytes_;
        ArmNextRange();  // a range handed over still follows
        InstallProgress();
        // A drain that ended the old position must not stall the new one.
        thread_->RunEvent().SetEvent();
    }
    PostOnce(MPM_CHANGEPOSITION);
}

int64_t TMP3Player::Locate(int64_t k) {
    std::lock_guard<std::recursive_mutex> table(frameTable_.Lock());
    // The frame index, once it holds frame k, knows every frame before it
    // (and, complete, the last frame); else the table is scanned on as far
    // as k.
    const int64_t indexed = index_.Count();
    const bool useIndex = indexed > 0 && (indexed > k || index_.Complete());
    if (useIndex) {
        k = std::min(k, indexed - 1);
    } else if (k >= frameTable_.Count()) {
        reader_.Seek(frameTable_.At(frameTable_.Count() - 1), TSeekOrigin::soBeginning);
        if (!walk_.ScanFrame()) {
            k = frameTable_.Count() - 1;
        } else {
            while (k >= frameTable_.Count()) {
                const int64_t p = reader_.Position();
                if (!walk_.ScanFrame()) {
                    k = frameTable_.Count() - 1;
                    break;
                }
                frameTable_.Add(p);
            }
        }
    }
    const auto offset = [&](int64_t i) { return useIndex ? index_.Offset(i) : frameTable_.At(i); };
    // Frame k - 1 must decode whole: the frames before it must hold the 511
    // bytes of main data it may reach back for (each frame carries at least
    // its length less 38 bytes of header and side information).
    constexpr int64_t kReservoirBytes = 511;
    constexpr int64_t kSideBytes = 38;
    constexpr int64_t kMaxPreroll = 16;
    int64_t first = k;
    if (k > 0) {
        first = k - 1;
        const int64_t before = offset(k - 1);
        while (first > 0 && k - first < kMaxPreroll &&
               before - offset(first) - kSideBytes * (k - 1 - first) < kReservoirBytes)
            --first;
    }
    walk_.prerollFrames = static_cast<int32_t>(k - first);
    reader_.Seek(offset(first), TSeekOrigin::soBeginning);
    return k;
}

int64_t TMP3Player::Reposition(int64_t targetBytes, bool frameAfter) {
    const int64_t ppf = walk_.pcmBytesPerFrame;
    const int64_t sampleBytes = walk_.sampleBytes;
    const int64_t spf = walk_.FrameSamples();
    if (ppf <= 0 || sampleBytes <= 0 || spf <= 0) return 0;
    constexpr int64_t kMaxFrame = std::numeric_limits<int32_t>::max();
    if (walk_.SampleExact()) {
        // Trimmed streams and ranges land on the music sample (position 0:
        // the first of the music, or of the range). A range that begins
        // beyond the music's end drops all there is and ends.
        const int64_t first = walk_.rangeFirst;
        int64_t music = (targetBytes + sampleBytes - 1) / sampleBytes + first;
        const int64_t end = walk_.MusicEnd();
        if (end >= 0) music = std::min(music, std::max(end, first));
        const int64_t wanted = std::min((music + walk_.trimStart) / spf, kMaxFrame);
        const int64_t k = Locate(wanted);
        if (k != wanted) music = std::max<int64_t>(k * spf - walk_.trimStart, first);
        walk_.StartMusicAt(music, music + walk_.trimStart - k * spf);
        return (music - first) * sampleBytes;
    }
    if (frameAfter) {
        // A seek lands on the frame boundary at or after the time.
        const int64_t k = Locate(std::min((targetBytes + ppf - 1) / ppf, kMaxFrame));
        walk_.StartMusicAt(0, 0);
        return k * ppf;
    }
    const int64_t wanted = std::min(targetBytes / ppf, kMaxFrame);
    const int64_t k = Locate(wanted);
    const int64_t drop = k == wanted ? std::min(targetBytes - k * ppf, ppf) / sampleBytes : 0;
    walk_.StartMusicAt(0, drop);
    return k * ppf + drop * sampleBytes;
}

void TMP3Player::RestartAtPlayPosition() {
    const TMP3PlayerStatus status = Status();
    if ((status != mpsPlaying && status != mpsPaused) || !output_->Active() || !walk_.reader) return;
    ++playGeneration_;
    playedBytes_ += output_->GetDoneBytes();
    // A range switch heard, not yet taken: the count already runs from its start.
    if (rangeArmed_ && switchAtBytes_ < 0) walk_.rangeFirst = rangeSwitchAt_;
    // The faded tail plays on from the play position; the new sound follows it.
    const int64_t target = playedBytes_ + output_->Cut();
    messages_.RemovePending(MPM_ENDOFSTREAM);
    pcmPending_ = 0;
    walk_.nextFrameLength = 0;
    if (!NoisySeek()) walk_.needSetup = true;
    playedBytes_ = Reposition(target, false);
    writtenBytes_ = playedBytes_;
    thread_->RunEvent().SetEvent();
}

int64_t TMP3Player::Position() {
    std::lock_guard<TMPSimpleMutex> out(outputLock_);
    if (output_->Active()) {
        try {
            playedBytes_ += output_->GetDoneBytes();
        } catch (const std::exception&) {
            // The device cannot tell now: the position stands.
        }
        const int64_t perSecond =
            int64_t{output_->SampleRate()} * output_->Channels() * output_->BitsPerSample();
        CheckSwitchHeard();
        if (live_) LiveHeard();
        if (perSecond > 0) position_ = playedBytes_ * 1000 * 8 / perSecond;
    }
    return position_;
}

}  // namespace wl
