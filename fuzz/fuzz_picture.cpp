#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wl::fuzz::PictureInput(data, size);
    return 0;
}
