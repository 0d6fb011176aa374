// Replacing a file so that a crash or a kill during the write never leaves a
// truncated or half-written file behind: the data goes to a temporary file in
// the same folder, is flushed to the disk, and only then takes the target's
// name (an atomic rename).
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace wl {

// A file that could not be written, and why (the system's words, such as
// "Read-only file system" or "No space left on device").
struct TWriteFailure {
    QString Path;
    QString Reason;
};

// Writes `data` as the whole content of `path` (a symbolic link stays and its
// target is replaced). False, the old file (if any) untouched and `reason`
// (when given) set, when the data could not be written completely.
bool WriteFileAtomically(const QString& path, const QByteArray& data, QString* reason = nullptr);

// Tests: each later write whose path `failure` maps to a non-zero error
// number fails with that error before touching the disk; nullptr ends it.
void SetWriteFailureForTesting(std::function<int(const QString& path)> failure);

}  // namespace wl
