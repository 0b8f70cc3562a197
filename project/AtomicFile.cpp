#include "project/AtomicFile.h"

#include <cerrno>
#include <filesystem>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WriteAll(int fd, const char* p, std::size_t n)
{
    while (n > 0) {
        const ssize_t got = ::write(fd, p, n);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace

std::string SystemReason(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return "нет прав на запись";
    case ENOENT:
    case ENOTDIR:
        return "папка не существует";
    case ENOSPC:
        return "на диске нет места";
    case EDQUOT:
        return "превышена дисковая квота";
    case EROFS:
        return "диск доступен только для чтения";
    case EISDIR:
        return "на этом месте папка";
    case EIO:
        return "ошибка ввода-вывода";
    case ENAMETOOLONG:
        return "слишком длинное имя";
    default:
        return "ошибка системы " + std::to_string(error);
    }
}

std::string SaveFileAtomically(const std::string& path, const std::string& bytes)
{
    mode_t mode = 0;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return "на этом месте папка.";
        if (!S_ISREG(st.st_mode))
            return "на этом месте не обычный файл.";
        mode = st.st_mode & 07777; // a replaced file keeps its permissions
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    std::string temp;
    try {
        const std::filesystem::path target(path);
        std::filesystem::path folder = target.parent_path();
        if (folder.empty())
            folder = ".";
        std::string name(1, '.');
        name += target.filename().string();
        name += ".XXXXXX";
        temp = (folder / name).string();
    } catch (const std::bad_alloc&) {
        return "недостаточно памяти.";
    }
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return "не удаётся создать файл рядом с ним: " + SystemReason(errno) + ".";
    const auto fail = [&](int error) {
        ::unlink(temp.c_str());
        return SystemReason(error) + ".";
    };
    if (!WriteAll(fd, bytes.data(), bytes.size()) || ::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(error);
    }
    if (::close(fd) != 0)
        return fail(errno);
    if (::rename(temp.c_str(), path.c_str()) != 0)
        return fail(errno);
    // The rename itself reaches the disk with the folder.
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}
