#pragma once

#include <optional>
#include <string>

// Small text files only their owner may read (mode 0600), such as the station's access
// token and the note of where it listens. A write replaces the file whole through a
// temporary file and a rename, so a reader never sees half a file and the file never
// exists with wider permissions. Stateless.
namespace PrivateFile {

// Throws SystemException when the file cannot be written.
void write(const std::string& path, const std::string& text);
// The file's text; none when it cannot be read.
std::optional<std::string> read(const std::string& path);
// The permission bits of `path`, or -1.
int mode(const std::string& path);

}  // namespace PrivateFile
