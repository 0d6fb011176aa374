// Replacing a file so that a crash or a kill during the write never leaves a
// truncated or half-written file behind: the data goes to a temporary file in
// the same folder, is flushed to the disk, and only then takes the target's
// name (an atomic rename).
#pragma once

#include <QByteArray>
#include <QString>

namespace wl {

// Writes `data` as the whole content of `path`. False (and the old file, if
// any, untouched) when the data could not be written completely.
bool WriteFileAtomically(const QString& path, const QByteArray& data);

}  // namespace wl
