// A scratch folder for the Qt harnesses, made once per process (in /dev/shm
// when there is one, so the files cost no disk writes) and removed at exit.
#pragma once

#include <QString>

namespace wl::fuzz {

// The folder's absolute path, without a trailing "/".
const QString& ScratchFolder();

}  // namespace wl::fuzz
