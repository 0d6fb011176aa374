// The decoding thread's playback step, the end-of-stream drain, Seek with its
// lazily built frame table, and Position.
#include <algorithm>
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
        if (walk_.AudioUsedUp()) {
            if (SwitchToNext()) return;
            DrainAndEnd(decode);
            return;
        }
        if (walk_.DecodeNext(pcm_) != TFrameWalker::TStepResult::Decoded) return;
        pcmPending_ = walk_.lastPcmBytes;
        if (pcmPending_ == 0) return;  // trimmed away before the music
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
        const int32_t n = output_->Write(pcm_, pcmPending_);
        pcmPending_ -= n;
        writtenBytes_ += n;
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
    if (milliseconds < 0) return;
    const TMP3PlayerStatus status = Status();
    if (status != mpsPlaying && status != mpsPaused) return;
    CompleteSwitch();
    {
        std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
        std::lock_guard<TMPSimpleMutex> out(outputLock_);
        ++playGeneration_;
        RemoveProgress();
        const bool paused = status == mpsPaused;
        output_->Reset();
        output_->WaitAllDone();
        messages_.RemovePending(MPM_ENDOFSTREAM);

        pcmPending_ = 0;
        walk_.nextFrameLength = 0;
        playedBytes_ = 0;
        position_ = 0;
        if (!NoisySeek()) walk_.needSetup = true;

        // Untrimmed streams land on the frame boundary at or after the time;
        // trimmed ones on the music sample of the time.
        const bool trimmed = walk_.trimStart > 0 || walk_.musicSamples > 0;
        const int64_t ppf = walk_.pcmBytesPerFrame;
        const int64_t spf = walk_.FrameSamples();
        int64_t k = 0;
        int64_t music = 0;
        if (trimmed && spf > 0) {
            music = milliseconds * sampleRate_ / 1000;
            if (walk_.musicSamples > 0) music = std::min(music, walk_.musicSamples);
            k = (music + walk_.trimStart) / spf;
        } else {
            const int64_t bytes = milliseconds * sampleRate_ * channels_ * 2 / 1000;
            k = ppf > 0 ? (bytes + ppf - 1) / ppf : 0;
        }
        k = std::min<int64_t>(k, std::numeric_limits<int32_t>::max());
        {
            std::lock_guard<std::recursive_mutex> table(frameTable_.Lock());
            const int64_t wanted = k;
            if (k >= frameTable_.Count()) {
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
            reader_.Seek(frameTable_.At(k), TSeekOrigin::soBeginning);
            if (trimmed && spf > 0) {
                if (k != wanted) music = std::max<int64_t>(k * spf - walk_.trimStart, 0);
                const int64_t drop = music + walk_.trimStart - k * spf;
                walk_.StartMusicAt(music, drop);
                playedBytes_ = music * walk_.sampleBytes;
            } else {
                walk_.StartMusicAt(0, 0);
                playedBytes_ = k * ppf;
            }
        }
        writtenBytes_ = playedBytes_;
        if (paused) output_->Pause();
        InstallProgress();
        // A drain that ended the old position must not stall the new one.
        thread_->RunEvent().SetEvent();
    }
    PostOnce(MPM_CHANGEPOSITION);
}

int64_t TMP3Player::Position() {
    std::lock_guard<TMPSimpleMutex> out(outputLock_);
    if (output_->Active()) {
        playedBytes_ += output_->GetDoneBytes();
        const int64_t perSecond =
            int64_t{output_->SampleRate()} * output_->Channels() * output_->BitsPerSample();
        CheckSwitchHeard();
        if (perSecond > 0) position_ = playedBytes_ * 1000 * 8 / perSecond;
    }
    return position_;
}

}  // namespace wl
