// The fuzzing harnesses: each takes one arbitrary input. The libFuzzer
// targets call them, and the test suite replays every kept reproducer
// (fuzz/regressions/TARGET/*) through them. The playlist, station list and
// settings harnesses need QtCore; the others only the engine.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wl::fuzz {

void DecodeFrameInput(const uint8_t* data, size_t size);
void FrameHeaderInput(const uint8_t* data, size_t size);
void MediaInfoInput(const uint8_t* data, size_t size);
void PlayerWalkInput(const uint8_t* data, size_t size);
void Id3TextInput(const uint8_t* data, size_t size);
void M3uInput(const uint8_t* data, size_t size);
void SettingsInput(const uint8_t* data, size_t size);
void IcyInput(const uint8_t* data, size_t size);
void StationListInput(const uint8_t* data, size_t size);
void CueInput(const uint8_t* data, size_t size);
void PictureInput(const uint8_t* data, size_t size);

}  // namespace wl::fuzz
