#pragma once
// Saving one downloaded body into the save folder: complete or absent, never
// over an existing entry.
#include <QByteArray>

namespace qm {

enum class StoreMode {
  kAuto,           // an unnamed file linked in when complete, else a temporary name
  kTemporaryName,  // always through a temporary name in the folder
};

// Writes `body` into the folder open as `dirFd` under `name`. When the name is
// taken at that moment, six random characters and "-" are put before `base`
// and the file tries again. Returns the name the file got, or an empty name
// when nothing was saved (nothing is then left in the folder).
QByteArray StoreFile(int dirFd, const QByteArray& name, const QByteArray& base,
                     const QByteArray& body, StoreMode mode = StoreMode::kAuto);

}  // namespace qm
