#include <QtGlobal>

#include "fuzz/harness.h"

// Qt warns on stderr about every file name holding a NUL byte ("Broken
// filename passed to function"); printed for most inputs, the warning alone
// cost the target most of its speed.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wl::fuzz::M3uInput(data, size);
    return 0;
}
