// Files written whole or not at all: the content goes to a new file in the
// same folder, is flushed to the disk, and only then renamed over the target,
// so a reader (or a crash) sees the old file or the new one, never a part.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace tarvok::scipy_emitter {

/// Writes `content` to `path` atomically. A file already at `path` keeps its
/// permission bits; a new one gets 0666 less the process's umask. Throws
/// std::system_error (with the errno of the failing step) and leaves no
/// temporary file behind.
void write_file_atomically(const std::string& path, std::string_view content);

}  // namespace tarvok::scipy_emitter
