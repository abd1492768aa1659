#pragma once
#include <QByteArrayView>
#include <QString>

namespace zafrel {

// Replaces the file at `path` so that readers see either the old or the new content, never a mix
// and never an empty file: the bytes go to a temporary file beside it (mode 0600, this account's
// alone), are flushed to the disk, and only then take the old file's place. On any failure (a
// full disk, a folder that takes no writes) the old file stays as it was and the answer is false.
bool writeFileAtomically(const QString& path, QByteArrayView bytes);

}  // namespace zafrel
