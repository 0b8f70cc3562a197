#include "cli/StagedFiles.h"

#include "project/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Why a system call failed, as the user reads it; a write that stopped
// short without an error has none.
std::string WriteReason(int error)
{
    return error == 0 ? std::string("файл не удалось записать") : SystemReason(error);
}

std::string Failed(const std::string& target, const std::string& reason)
{
    return "не удалось записать файл «" + target + "»: " + reason;
}

std::string Folder(const std::string& path)
{
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

} // namespace

std::string WriteFilesTogether(const std::vector<TStagedFile>& files)
{
    std::vector<std::string> temps;
    const auto removeFrom = [&temps](std::size_t first) {
        for (std::size_t k = first; k < temps.size(); ++k)
            ::unlink(temps[k].c_str());
    };
    const mode_t mask = ::umask(0);
    ::umask(mask);

    for (const TStagedFile& file : files) {
        mode_t mode = 0666 & ~mask;
        struct stat st {};
        if (::stat(file.target.c_str(), &st) == 0) {
            std::string refusal;
            if (S_ISDIR(st.st_mode))
                refusal = "на этом месте папка";
            else if (!S_ISREG(st.st_mode))
                refusal = "на этом месте не обычный файл";
            if (!refusal.empty()) {
                removeFrom(0);
                return Failed(file.target, refusal);
            }
            mode = st.st_mode & 07777; // a replaced file keeps its permissions
        }
        std::string hidden = ".";
        hidden += std::filesystem::path(file.target).filename().string();
        hidden += ".XXXXXX";
        std::string temp = (std::filesystem::path(Folder(file.target)) / hidden).string();
        const int created = ::mkstemp(temp.data());
        if (created < 0) {
            const int error = errno;
            removeFrom(0);
            return Failed(file.target, "не удаётся создать файл рядом с ним: " + WriteReason(error));
        }
        ::close(created);
        temps.push_back(temp);
        errno = 0;
        if (!file.write(temp)) {
            const int error = errno;
            removeFrom(0);
            return Failed(file.target, WriteReason(error));
        }
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CLOEXEC);
        bool flushed = fd >= 0 && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
        const int error = errno;
        if (fd >= 0 && ::close(fd) != 0)
            flushed = false;
        if (!flushed) {
            removeFrom(0);
            return Failed(file.target, WriteReason(error));
        }
    }

    std::set<std::string> folders;
    for (std::size_t k = 0; k < files.size(); ++k) {
        if (std::rename(temps[k].c_str(), files[k].target.c_str()) != 0) {
            const int error = errno;
            removeFrom(k);
            return Failed(files[k].target, WriteReason(error));
        }
        folders.insert(Folder(files[k].target));
    }
    // The renames themselves reach the disk with their folders.
    for (const std::string& folder : folders) {
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    return {};
}
