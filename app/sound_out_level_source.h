// The level meter's source in the application: the player's sound output.
#pragma once

#include <functional>

#include "controls/vu_meter.h"

namespace wl {

class TSoundOut;

// Levels of a TSoundOut at its play position. The getter is asked at each
// Start (the player may create or replace its output); a null result means the
// source cannot be reached. The device count defaults to the count of the
// output's named device kind.
class TSoundOutLevelSource : public TLevelSource {
public:
    using Getter = std::function<TSoundOut*()>;
    using DeviceCounter = std::function<int()>;
    explicit TSoundOutLevelSource(TSoundOut* soundOut);
    explicit TSoundOutLevelSource(Getter getter, DeviceCounter deviceCount = {});

    TOpenResult Open() override;
    bool Read(int32_t& left, int32_t& right, int& channels) override;
    void Close() override;

private:
    Getter getter_;
    DeviceCounter deviceCount_;
    TSoundOut* open_ = nullptr;
};

}  // namespace wl
