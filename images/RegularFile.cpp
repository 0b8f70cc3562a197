#include "images/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TFileOpenError FromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return TFileOpenError::NotFound;
    case EACCES:
    case EPERM:
        return TFileOpenError::NoAccess;
    case ENXIO:   // a socket, or a device without its driver
    case EISDIR:
        return TFileOpenError::NotAFile;
    default:
        return TFileOpenError::Failed;
    }
}

TRegularFile Refusal(TFileOpenError error)
{
    TRegularFile r;
    r.error = error;
    return r;
}

} // namespace

TRegularFile OpenRegularFile(const std::string& fileName)
{
    struct stat before {};
    if (fileName.empty())
        return Refusal(TFileOpenError::NotFound);
    if (::stat(fileName.c_str(), &before) != 0)
        return Refusal(FromErrno(errno));
    if (!S_ISREG(before.st_mode))
        return Refusal(TFileOpenError::NotAFile);
    // Not blocking, in case the name has meanwhile become a pipe: opening a
    // pipe for reading would otherwise wait for a writer. What was opened is
    // checked again below.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return Refusal(FromErrno(errno));
    struct stat opened {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &opened) != 0 || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        return Refusal(FromErrno(error));
    }
    if (!S_ISREG(opened.st_mode)) {
        ::close(fd);
        return Refusal(TFileOpenError::NotAFile);
    }
    TRegularFile r;
    r.file.reset(::fdopen(fd, "rb"));
    if (!r.file) {
        const int error = errno;
        ::close(fd);
        return Refusal(FromErrno(error));
    }
    r.size = static_cast<std::uint64_t>(std::max<off_t>(opened.st_size, 0));
    return r;
}

std::size_t ReadAtMost(std::FILE* file, void* buffer, std::size_t n, std::uint64_t limit, std::uint64_t& done)
{
    const std::uint64_t left = limit > done ? limit - done : 0;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(n, left));
    const std::size_t got = want > 0 ? std::fread(buffer, 1, want, file) : 0;
    done += got;
    return got;
}
