// The engine's error type: failures are exceptions carrying a message text.
#pragma once

#include <stdexcept>
#include <string>

namespace wl {

class EMP3Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace wl
