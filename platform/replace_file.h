#pragma once
// Replaces a file's whole content safely: the content goes into a temporary
// file beside it, which is then renamed over the old one, so a reader (or a
// crash) sees either the old or the new file, never a torn one. The file keeps
// its permissions. Any thread.

#include <filesystem>
#include <string_view>

namespace platform {

// 0 on success, else the errno of the step that failed (ENOSPC for a full
// disk, EMFILE or ENFILE when too many files are open, ...); the old file is
// then unchanged and no temporary file is left.
int ReplaceFileContent(const std::filesystem::path& path, std::string_view content);

}  // namespace platform
