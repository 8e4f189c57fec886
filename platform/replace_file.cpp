#include "platform/replace_file.h"

#include "platform/fd.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

int writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return errno;
        if (put == 0) return EIO;
        data.remove_prefix(static_cast<std::size_t>(put));
    }
    return 0;
}

}  // namespace

int ReplaceFileContent(const std::filesystem::path& path, std::string_view content) {
    std::string pattern = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    Fd temp(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!temp.valid()) return errno != 0 ? errno : EIO;
    struct stat old {};
    mode_t mode = 0644;
    if (::stat(path.c_str(), &old) == 0) mode = old.st_mode & 07777;
    int error = ::fchmod(temp.get(), mode) == 0 ? 0 : errno;
    if (error == 0) error = writeAll(temp.get(), content);
    if (error == 0 && ::rename(pattern.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) ::unlink(pattern.c_str());
    return error;
}

}  // namespace platform
