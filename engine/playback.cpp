// The decoding thread's playback step, the end-of-stream drain, Seek with its
// lazily built frame table, and Position.
//
// Repositioning (a seek, or decoding again after an equalizer change) starts
// the decoder a few frames before the target and drops their PCM: a Layer III
// frame may take its main data from up to 511 bytes of the frames before it,
// and its first granule overlaps the frame before. So the target frame and
// all after it sound exactly as in continuous play, never as decoder garbage.
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
            DrainAndEnd(decode);
            return;
        }
        if (walk_.DecodeNext(pcm_) != TFrameWalker::TStepResult::Decoded) return;
        if (prerollFrames_ > 0) {
            --prerollFrames_;
            return;
        }
        pcmPending_ = walk_.pcmBytesPerFrame;
        if (skipBytes_ > 0) {
            const int32_t skip = std::min(skipBytes_, pcmPending_);
            pcmPending_ -= skip;
            skipBytes_ = 0;
            std::memmove(pcm_, pcm_ + skip, static_cast<size_t>(pcmPending_));
            if (pcmPending_ == 0) return;
        }
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
    {
        std::lock_guard<TMPSimpleMutex> decode(decodeLock_);
        std::lock_guard<TMPSimpleMutex> out(outputLock_);
        ++playGeneration_;
        RemoveProgress();
        // The old position fades out at once; a paused output stays paused.
        output_->Cut();
        messages_.RemovePending(MPM_ENDOFSTREAM);

        pcmPending_ = 0;
        skipBytes_ = 0;
        walk_.nextFrameLength = 0;
        playedBytes_ = 0;
        position_ = 0;
        if (!NoisySeek()) walk_.needSetup = true;

        const int64_t ppf = walk_.pcmBytesPerFrame;
        const int64_t bytes = milliseconds * sampleRate_ * channels_ * 2 / 1000;
        int64_t k = ppf > 0 ? (bytes + ppf - 1) / ppf : 0;
        k = std::min<int64_t>(k, std::numeric_limits<int32_t>::max());
        playedBytes_ = Locate(k) * ppf;
        InstallProgress();
        // A drain that ended the old position must not stall the new one.
        thread_->RunEvent().SetEvent();
    }
    PostOnce(MPM_CHANGEPOSITION);
}

int64_t TMP3Player::Locate(int64_t k) {
    std::lock_guard<std::recursive_mutex> table(frameTable_.Lock());
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
    // Frame k - 1 must decode whole: the frames before it must hold the 511
    // bytes of main data it may reach back for (each frame carries at least
    // its length less 38 bytes of header and side information).
    constexpr int64_t kReservoirBytes = 511;
    constexpr int64_t kSideBytes = 38;
    constexpr int64_t kMaxPreroll = 16;
    int64_t first = k;
    if (k > 0) {
        first = k - 1;
        while (first > 0 && k - first < kMaxPreroll &&
               frameTable_.At(k - 1) - frameTable_.At(first) - kSideBytes * (k - 1 - first) < kReservoirBytes)
            --first;
    }
    prerollFrames_ = static_cast<int32_t>(k - first);
    reader_.Seek(frameTable_.At(first), TSeekOrigin::soBeginning);
    return k;
}

void TMP3Player::RestartAtPlayPosition() {
    const TMP3PlayerStatus status = Status();
    const int64_t ppf = walk_.pcmBytesPerFrame;
    if ((status != mpsPlaying && status != mpsPaused) || !output_->Active() || ppf <= 0 || !walk_.reader) return;
    ++playGeneration_;
    playedBytes_ += output_->GetDoneBytes();
    // The faded tail plays on from the play position; the new sound follows it.
    const int64_t target = playedBytes_ + output_->Cut();
    messages_.RemovePending(MPM_ENDOFSTREAM);
    pcmPending_ = 0;
    walk_.nextFrameLength = 0;
    if (!NoisySeek()) walk_.needSetup = true;
    const int64_t k = Locate(std::min<int64_t>(target / ppf, std::numeric_limits<int32_t>::max()));
    skipBytes_ = k * ppf <= target ? static_cast<int32_t>(std::min(target - k * ppf, ppf)) : 0;
    playedBytes_ = k * ppf + skipBytes_;
    thread_->RunEvent().SetEvent();
}

int64_t TMP3Player::Position() {
    std::lock_guard<TMPSimpleMutex> out(outputLock_);
    if (output_->Active()) {
        playedBytes_ += output_->GetDoneBytes();
        const int64_t perSecond =
            int64_t{output_->SampleRate()} * output_->Channels() * output_->BitsPerSample();
        if (perSecond > 0) position_ = playedBytes_ * 1000 * 8 / perSecond;
    }
    return position_;
}

}  // namespace wl
