#include "project/AtomicFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <set>

#include <ctime>

#include <dirent.h>
#include <sys/file.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Hidden names of our own: ".trelis-PID-XXXXXX.tmp" for a file being
// written, ".trelis-PID-XXXXXX.bak" for the old contents of a target while a
// group is put in place.
constexpr std::string_view HiddenPrefix = ".trelis-";

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string Joined(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// A fresh hidden name in the folder that no file has yet.
std::string FreeHiddenName(const std::string& folder, const char* suffix)
{
    static std::mt19937_64 draw{std::random_device{}()};
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (;;) {
        std::string name(HiddenPrefix);
        name += std::to_string(::getpid());
        name += '-';
        for (int i = 0; i < 6; ++i)
            name += letters[draw() % (sizeof letters - 1)];
        name += suffix;
        std::string path = Joined(folder, name);
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT)
            return path;
    }
}

// A writer holds a lock (flock) on every hidden file of its own from before
// the file has its hidden name until it is put in place or removed, so a
// hidden file nobody holds a lock on is certainly left over: its writer was
// killed. That holds wherever the writer runs: in another process, another
// PID namespace, or on another machine sharing the folder. A named file
// younger than this may be one whose writer has created it and not yet
// locked it.
constexpr time_t LockGraceSeconds = 5;

// Takes the lock on the open file for its writer; the lock lasts as long as
// any descriptor of this opening (see TStaged::lock).
int HoldLock(int fd)
{
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return -1;
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

// Removes the hidden files that a killed write left in the folder: those
// no writer holds a lock on.
void RemoveStaleHiddenFiles(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return;
    const time_t now = ::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        const bool temporary = name.ends_with(".tmp");
        if (!name.starts_with(HiddenPrefix) || !(temporary || name.ends_with(".bak")))
            continue;
        const std::string path = Joined(folder, std::string(name));
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat st {};
        const bool young = ::fstat(fd, &st) != 0 || (temporary && now - st.st_mtime < LockGraceSeconds);
        if (S_ISREG(st.st_mode) && !young && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.c_str());
        ::close(fd);
    }
    ::closedir(dir);
}

// One file on its way: written beside its target, then put in place.
struct TStaged {
    std::string target;
    std::string folder;
    std::string hidden;  // the name it is written under, once it has one
    std::string backup;  // a second name of the target's old contents, if any
    bool existed = false;
    bool placed = false;
    int lock = -1;       // holds the lock on the hidden file while it lives
    int backupLock = -1; // holds the lock on the backup's contents

    TStaged() = default;
    TStaged(const TStaged&) = delete;
    TStaged& operator=(const TStaged&) = delete;
    ~TStaged()
    {
        for (const int fd : {lock, backupLock})
            if (fd >= 0)
                ::close(fd);
    }
};

// Writes the file beside its target and gives it a hidden name; empty on
// success, otherwise the reason (a clause with its period).
std::string Stage(TStaged& file, const TFileWriter& write)
{
    mode_t mode = 0;
    struct stat st {};
    if (::stat(file.target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return "на этом месте папка.";
        if (!S_ISREG(st.st_mode))
            return "на этом месте не обычный файл.";
        mode = st.st_mode & 07777; // a replaced file keeps its permissions
        file.existed = true;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    // Unnamed until it is complete: nothing is left behind when the process
    // is killed meanwhile. Where the file system has no unnamed files, the
    // file is named from the start.
    int fd = ::open(file.folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    const bool unnamed = fd >= 0;
    if (!unnamed) {
        if (errno == ENOENT || errno == ENOTDIR || errno == EACCES || errno == EPERM || errno == EROFS ||
            errno == ENOSPC || errno == EDQUOT)
            return "не удаётся создать файл в папке: " + SystemReason(errno) + ".";
        file.hidden = FreeHiddenName(file.folder, ".tmp");
        fd = ::open(file.hidden.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0) {
            file.hidden.clear();
            return "не удаётся создать файл в папке: " + SystemReason(errno) + ".";
        }
    }
    // Locked before an unnamed file gets its name, at once for a named one.
    file.lock = HoldLock(fd);
    std::FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        const int error = errno;
        ::close(fd);
        return SystemReason(error) + ".";
    }
    errno = 0;
    bool ok = false;
    try {
        ok = write(stream);
    } catch (const std::bad_alloc&) {
        std::fclose(stream);
        return "недостаточно памяти.";
    }
    if (ok && std::fflush(stream) != 0)
        ok = false;
    int error = errno;
    if (ok && (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0)) {
        ok = false;
        error = errno;
    }
    if (ok && unnamed) {
        // Named now, under a hidden name of its own, to be renamed in place.
        file.hidden = FreeHiddenName(file.folder, ".tmp");
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, file.hidden.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            ok = false;
            error = errno;
            file.hidden.clear();
        }
    }
    if (std::fclose(stream) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok)
        return (error != 0 ? SystemReason(error) : std::string("данные не удалось записать")) + ".";
    return {};
}

void FlushFolder(const std::string& folder)
{
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void RemoveHidden(std::vector<TStaged>& files)
{
    for (TStaged& file : files) {
        if (!file.hidden.empty() && !file.placed)
            ::unlink(file.hidden.c_str());
        if (!file.backup.empty())
            ::unlink(file.backup.c_str());
    }
}

std::string Quoted(const std::string& path)
{
    return "«" + path + "»";
}

// The file a write at `path` lands in: the path itself, or, when it is a
// symbolic link, the file at the end of the link (and of any link that one
// leads to), so that the link stays a link and its file gets the contents,
// as editors do. Empty on success, otherwise the reason (no final period):
// a link that leads nowhere, or round in a circle.
std::string FollowLinks(const std::string& path, std::string& target)
{
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0) {
            if (hops > 0 && (errno == ENOENT || errno == ENOTDIR))
                return "ссылка " + Quoted(path) + " указывает на несуществующий файл " + Quoted(target);
            return {}; // nothing there yet: a new file
        }
        if (!S_ISLNK(st.st_mode))
            return {};
        std::string to(4096, '\0');
        const ssize_t n = ::readlink(target.c_str(), to.data(), to.size());
        if (n < 0 || static_cast<std::size_t>(n) >= to.size())
            return "ссылку " + Quoted(path) + " не удалось прочитать";
        to.resize(static_cast<std::size_t>(n));
        const std::string from = FolderOf(target);
        target = (!to.empty() && to[0] == '/') || from == "." ? to : Joined(from, to);
    }
    return "ссылка " + Quoted(path) + " ведёт по кругу";
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
    case ELOOP:
        return "в пути слишком много символических ссылок";
    case EFBIG:
        return "файл слишком велик";
    case ENOMEM:
        return "недостаточно памяти";
    case EMFILE:
    case ENFILE:
        return "открыто слишком много файлов";
    case EBUSY:
    case ETXTBSY:
        return "файл занят";
    case EXDEV:
        return "файлы на разных дисках";
    case EMLINK:
        return "в папке слишком много ссылок";
    case EINVAL:
        return "недопустимое имя или действие";
    case EAGAIN:
    case EINTR:
        return "действие прервано, попробуйте ещё раз";
    case ESTALE:
        return "сетевой диск недоступен";
    default:
        return "непредвиденная ошибка системы (код " + std::to_string(error) + ")";
    }
}

std::string WriteRefusal(const std::string& asked)
{
    std::string path;
    if (std::string reason = FollowLinks(asked, path); !reason.empty())
        return reason;
    const std::string folder = FolderOf(path);
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? "папки " + Quoted(folder) + " нет"
                                                   : "папка " + Quoted(folder) + " недоступна: " + SystemReason(errno);
    if (!S_ISDIR(st.st_mode))
        return Quoted(folder) + " — не папка";
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return "в папку " + Quoted(folder) + " нельзя записывать: " + SystemReason(errno);
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return "на месте файла " + Quoted(path) + " папка";
    return {};
}

std::string SaveFileAtomically(const std::string& asked, const TFileWriter& write)
{
    std::string path;
    if (std::string reason = FollowLinks(asked, path); !reason.empty())
        return reason + ".";
    std::vector<TStaged> files(1);
    files[0].target = path;
    files[0].folder = FolderOf(path);
    RemoveStaleHiddenFiles(files[0].folder);
    if (std::string reason = Stage(files[0], write); !reason.empty()) {
        RemoveHidden(files);
        return reason;
    }
    if (::rename(files[0].hidden.c_str(), path.c_str()) != 0) {
        const int error = errno;
        RemoveHidden(files);
        return SystemReason(error) + ".";
    }
    FlushFolder(files[0].folder);
    return {};
}

std::string SaveFileAtomically(const std::string& path, std::string_view bytes)
{
    return SaveFileAtomically(path, [bytes](std::FILE* file) {
        return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    });
}

std::string SaveFilesTogether(const std::vector<TFileToWrite>& group)
{
    std::vector<TStaged> files(group.size());
    std::set<std::string> folders;
    for (std::size_t k = 0; k < group.size(); ++k) {
        if (std::string reason = FollowLinks(group[k].path, files[k].target); !reason.empty())
            return "не удалось записать файл " + Quoted(group[k].path) + ": " + reason + ". Ни один файл не изменён.";
        files[k].folder = FolderOf(files[k].target);
        if (folders.insert(files[k].folder).second)
            RemoveStaleHiddenFiles(files[k].folder);
    }
    const auto failed = [](const TStaged& file, const std::string& reason) {
        return "не удалось записать файл " + Quoted(file.target) + ": " + reason;
    };
    for (std::size_t k = 0; k < files.size(); ++k)
        if (std::string reason = Stage(files[k], group[k].write); !reason.empty()) {
            RemoveHidden(files);
            return failed(files[k], reason) + (files.size() > 1 ? " Ни один файл не изменён." : "");
        }

    // The old contents of every target keep a second name until all are in
    // place, so that a failure part way can put them back.
    if (files.size() > 1)
        for (TStaged& file : files)
            if (file.existed) {
                // Locked before the second name exists.
                const int old = ::open(file.target.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
                file.backupLock = HoldLock(old);
                if (old >= 0)
                    ::close(old);
                file.backup = FreeHiddenName(file.folder, ".bak");
                if (::link(file.target.c_str(), file.backup.c_str()) != 0)
                    file.backup.clear();
            }
    for (std::size_t k = 0; k < files.size(); ++k) {
        if (::rename(files[k].hidden.c_str(), files[k].target.c_str()) == 0) {
            files[k].placed = true;
            continue;
        }
        const std::string reason = SystemReason(errno) + ".";
        std::string kept; // the files that could not get their old contents back
        for (std::size_t j = 0; j < k; ++j) {
            TStaged& done = files[j];
            const bool back = done.existed ? !done.backup.empty() && ::rename(done.backup.c_str(), done.target.c_str()) == 0
                                           : ::unlink(done.target.c_str()) == 0;
            if (back)
                done.backup.clear();
            else
                kept += (kept.empty() ? "" : ", ") + Quoted(done.target);
        }
        RemoveHidden(files);
        for (const std::string& folder : folders)
            FlushFolder(folder);
        if (kept.empty())
            return failed(files[k], reason) + (files.size() > 1 ? " Ни один файл не изменён." : "");
        return failed(files[k], reason) + " Уже записаны заново: " + kept + "; остальные файлы остались прежними.";
    }
    RemoveHidden(files);
    for (const std::string& folder : folders)
        FlushFolder(folder);
    return {};
}
