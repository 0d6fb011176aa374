// The output-device layer under TSoundOut, a PCM output device: open for a
// PCM format, queue buffers, learn on a callback when each has been
// played, pause, restart, reset (every queued buffer comes back at once), the
// played position in bytes, a left/right volume and error codes with texts.
//
// Devices: "pulse" (a PulseAudio or PipeWire sound server, the default;
// "pulse:SINK" plays on the named sink),
// "null" (a real-time clock without sound) and "wav:PATH" (a WAV file written
// at the pace of the null device). WAVELANTERN_AUDIO names the device when the
// caller does not.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace wl {

// Result codes of the device calls; 0 is success.
enum : int {
    kOutputOk = 0,
    kOutputError = 1,          // unspecified failure
    kOutputNoDevice = 2,       // no such device
    kOutputAlreadyOpen = 4,
    kOutputNotOpen = 5,
    kOutputNoServer = 6,       // the sound server cannot be reached
    kOutputNoMemory = 7,
    kOutputNotSupported = 8,   // the device cannot do this (volume on some devices)
    kOutputInvalidParam = 11,
    kOutputBadFormat = 32,     // unsupported PCM format
    kOutputStillPlaying = 33,  // the buffer (or a buffer) is still queued
    kOutputUnprepared = 34,    // the buffer was not prepared
};

struct TPcmFormat {
    int32_t SampleRate = 44100;
    int32_t Channels = 2;
    int32_t BitsPerSample = 16;
    int32_t BlockAlign() const { return Channels * BitsPerSample / 8; }
    int32_t AvgBytesPerSec() const { return SampleRate * BlockAlign(); }
};

// A buffer to queue on a device: the owner fills Data and Length; the device
// keeps the flags.
struct TOutputBuffer {
    uint8_t* Data = nullptr;
    uint32_t BufferLength = 0;  // capacity
    uint32_t Length = 0;        // bytes to play
    std::atomic<bool> Prepared{false};
    std::atomic<bool> Queued{false};  // handed to the device and not yet returned
    void* User = nullptr;
};

class TAudioDevice {
public:
    // Called once for every buffer the device is done with (played, or
    // returned by Reset), from a thread of the device's own (or from the
    // thread calling Reset). It must not call back into the device.
    using DoneCallback = std::function<void(TOutputBuffer* buffer)>;

    virtual ~TAudioDevice() = default;

    // Opens for the format. Without a callback the device is only opened for
    // volume queries and may refuse Write.
    virtual int Open(const TPcmFormat& format, DoneCallback onDone) = 0;
    // kOutputStillPlaying while buffers are queued.
    virtual int Close() = 0;
    virtual bool IsOpen() const = 0;

    int Prepare(TOutputBuffer* buffer);
    int Unprepare(TOutputBuffer* buffer);
    virtual int Write(TOutputBuffer* buffer) = 0;
    virtual int Pause() = 0;
    virtual int Restart() = 0;
    // Stops at once, returns every queued buffer, position back to 0.
    virtual int Reset() = 0;
    // Reset, telling where the sound stops: `end` receives the position (as
    // before the reset) up to which it is still heard. A device that plays
    // on what it has already passed to the hardware stops past the position
    // at the call; one that had not begun to play what it was given answers 0.
    virtual int ResetAt(uint64_t& end);
    // Bytes played since Open or the last Reset.
    virtual int GetPosition(uint64_t& bytes) = 0;
    // Left volume in the low 16 bits, right in the high 16 bits.
    virtual int SetVolume(uint32_t volume) = 0;
    virtual int GetVolume(uint32_t& volume) = 0;

    // Number of devices of this kind that can be opened.
    virtual int DeviceCount() const { return 1; }
    // Text for a code returned by this device (with the detail of the last
    // failure when it had that code); empty when the code is unknown.
    std::string ErrorText(int code) const;
    // The device's name: "pulse", "pulse:SINK", "null" or "wav:PATH".
    virtual std::string Name() const = 0;

    // News of the device's connection, from a thread of the device's own (it
    // must not call back into the device): `waiting` while the server is away
    // and the device reconnects, false again once it plays; `text` says what
    // happened (empty when it simply plays again).
    using StateCallback = std::function<void(bool waiting, const std::string& text)>;
    void SetOnState(StateCallback callback);
    // Whether the device waits for its server now (what is queued plays only
    // once it is back).
    virtual bool Waiting() const { return false; }

protected:
    void ReportState(bool waiting, const std::string& text) const;
    // Records the detail of a failure and returns its code.
    int Fail(int code, std::string detail) const;
    int Succeed() const;

private:
    mutable std::mutex errorMutex_;
    mutable int lastCode_ = 0;
    mutable std::string lastDetail_;
    mutable std::mutex stateMutex_;
    StateCallback onState_;
};

// A sink of the sound server: its name (for "pulse:NAME") and description.
struct TOutputInfo {
    std::string Name;
    std::string Description;
    bool Default = false;  // the server's default sink
};

// The sound server's sinks, asked over a connection of its own (it may take
// up to a few seconds when the server does not answer). False with a text
// when the server cannot be asked.
bool ListPulseOutputs(std::vector<TOutputInfo>& outputs, std::string& error);

// Generic texts of the result codes; empty for unknown codes.
std::string OutputErrorText(int code);

// A WAV file that the WAV devices of one output write in turn, so that it
// holds everything played through that output: the first device opened for
// playback creates it, each later one carries on after what it holds. A
// device opened for another format is refused (a WAV file has one format),
// which leaves what was written intact.
class TWavFile;

// The device named `name`; an empty name takes WAVELANTERN_AUDIO, and that
// being empty too, "pulse". An unknown name gives a device whose Open fails
// with a text saying so. With `wavFile`, a WAV device writes the file held
// there when it has the same path, else a new one that is stored there.
std::unique_ptr<TAudioDevice> CreateAudioDevice(const std::string& name = {},
                                                std::shared_ptr<TWavFile>* wavFile = nullptr);

// Direct constructors (the tests and the factory use them). A null device
// plays `speed` times faster than real time; speed <= 0 takes
// WAVELANTERN_NULL_SPEED, else 1.
std::unique_ptr<TAudioDevice> CreateNullAudioDevice(double speed = 0);
// A WAV device on a file of its own (created anew at its Open), or on a
// shared one.
std::unique_ptr<TAudioDevice> CreateWavAudioDevice(const std::string& path, double speed = 0);
std::unique_ptr<TAudioDevice> CreateWavAudioDevice(std::shared_ptr<TWavFile> file, double speed = 0);
// On the named sink; empty: the server's default sink.
std::unique_ptr<TAudioDevice> CreatePulseAudioDevice(const std::string& sink = {});

}  // namespace wl
