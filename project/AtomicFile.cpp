#include "project/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <new>
#include <random>
#include <set>

#include <dirent.h>
#include <sys/file.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Hidden names of our own, all in the folder of the file they serve:
//   ".trelis-PID-XXXXXX.tmp"    a file written alone, on its way;
//   ".trelis-PID-XXXXXX.jnl"    the journal of a group of files, one in each
//                               folder the group writes into;
//   ".trelis-PID-XXXXXX-N.tmp"  file N of that group, on its way;
//   ".trelis-PID-XXXXXX-N.bak"  a second name of the old contents of file
//                               N's target while the group is put in place.
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

// An open descriptor, closed with its owner.
struct TDescriptor {
    int fd = -1;

    TDescriptor() = default;
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    ~TDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// One file on its way: written beside its target, then put in place.
struct TStaged {
    std::string target;
    std::string folder;
    std::string groupName; // the hidden name given by its group; empty when written alone
    std::string hidden;    // the name it is written under, once it has one
    bool existed = false;
    TDescriptor lock; // holds the lock on a file written alone while it lives
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
        file.hidden = file.groupName.empty() ? FreeHiddenName(file.folder, ".tmp") : file.groupName;
        fd = ::open(file.hidden.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0) {
            file.hidden.clear();
            return "не удаётся создать файл в папке: " + SystemReason(errno) + ".";
        }
    }
    // A file written alone is locked before an unnamed one gets its name, at
    // once for a named one; a group's files are kept by its journal's lock.
    if (file.groupName.empty())
        file.lock.fd = HoldLock(fd);
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
        file.hidden = file.groupName.empty() ? FreeHiddenName(file.folder, ".tmp") : file.groupName;
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


// ---------------------------------------------------------------- groups
//
// A group is put in place by renames, one file at a time; a process killed
// between them would leave some targets new and some old. So before the
// first rename the writer writes the group's journal into every folder it
// writes into: for each file its target, the hidden name it waits under and
// the identity of its new contents (device and inode), the backup of the
// target's old contents, and the files the group removes. The writer holds
// a lock on each journal from its creation to its removal, so a journal
// nobody holds a lock on is one whose writer was killed: whoever touches the
// folder next settles the group by it, the same way the writer does.

struct TPut {
    std::string target; // absolute paths, valid from any working folder
    std::string hidden;
    std::string backup; // empty when the target had no old contents to keep
    bool existed = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

struct TJournal {
    std::vector<std::string> journals; // one in each folder of the group
    std::vector<TPut> puts;
    std::vector<std::string> removals;
};

constexpr std::string_view JournalHeader = "trelis group 1\n";
constexpr off_t MaxJournalSize = off_t{1} << 30;
constexpr std::string_view JournalEnd = "end\n";

std::string Field(std::string_view text)
{
    return std::to_string(text.size()) + ':' + std::string(text) + '\n';
}

std::string JournalText(const TJournal& journal)
{
    std::string text(JournalHeader);
    for (const std::string& path : journal.journals)
        text += 'J' + Field(path);
    for (const TPut& put : journal.puts)
        text += 'P' + Field(put.target) + Field(put.hidden) + Field(put.backup) +
                Field(std::to_string(put.existed) + ' ' + std::to_string(put.device) + ' ' +
                      std::to_string(put.inode));
    for (const std::string& path : journal.removals)
        text += 'R' + Field(path);
    return text += JournalEnd;
}

bool ReadField(std::string_view& text, std::string& field)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 19)
        return false;
    std::size_t size = 0;
    for (const char c : text.substr(0, colon)) {
        if (c < '0' || c > '9')
            return false;
        size = size * 10 + static_cast<std::size_t>(c - '0');
    }
    text.remove_prefix(colon + 1);
    if (size >= text.size() || text[size] != '\n')
        return false;
    field.assign(text.substr(0, size));
    text.remove_prefix(size + 1);
    return true;
}

// False when the text is not a whole journal: its writer was killed while
// writing it, before any file of the group was put in place.
bool ParseJournal(std::string_view text, TJournal& journal)
{
    if (!text.starts_with(JournalHeader))
        return false;
    text.remove_prefix(JournalHeader.size());
    std::string field;
    while (!text.empty() && text != JournalEnd) {
        const char kind = text[0];
        text.remove_prefix(1);
        if (kind == 'J' || kind == 'R') {
            if (!ReadField(text, field))
                return false;
            (kind == 'J' ? journal.journals : journal.removals).push_back(field);
        } else if (kind == 'P') {
            TPut put;
            if (!ReadField(text, put.target) || !ReadField(text, put.hidden) || !ReadField(text, put.backup) ||
                !ReadField(text, field))
                return false;
            int existed = 0;
            unsigned long long device = 0, inode = 0;
            if (std::sscanf(field.c_str(), "%d %llu %llu", &existed, &device, &inode) != 3)
                return false;
            put.existed = existed != 0;
            put.device = device;
            put.inode = inode;
            journal.puts.push_back(std::move(put));
        } else {
            return false;
        }
    }
    return text == JournalEnd && !journal.journals.empty();
}

// The path holds the new contents of the put.
bool HoldsNew(const std::string& path, const TPut& put)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && st.st_dev == put.device && st.st_ino == put.inode;
}

// How a group was settled: all new, or all old but for `kept`.
struct TSettled {
    bool allNew = true;
    std::size_t failed = 0; // the put that could not go in place, when not all new
    int error = 0;
    std::vector<std::string> kept; // targets put in place whose old contents could not come back
};

// Settles a group by its journal: every file waiting under its hidden name
// goes onto its target and the group's removals go; should a file be missing
// or a rename fail, every target already put in place gets its old contents
// back instead. The journals go last, once the group is all new or all old;
// when some old contents could not come back, the journals and backups stay,
// so that the next touch tries again and no backup is lost while it is the
// only copy.
TSettled Settle(const TJournal& journal)
{
    TSettled settled;
    for (std::size_t k = 0; k < journal.puts.size() && settled.allNew; ++k) {
        const TPut& put = journal.puts[k];
        if (!HoldsNew(put.target, put) && !HoldsNew(put.hidden, put)) {
            settled = {false, k, ENOENT, {}};
        }
    }
    for (std::size_t k = 0; k < journal.puts.size() && settled.allNew; ++k) {
        const TPut& put = journal.puts[k];
        if (!HoldsNew(put.target, put) && ::rename(put.hidden.c_str(), put.target.c_str()) != 0)
            settled = {false, k, errno, {}};
    }
    std::set<std::string> folders;
    for (const std::string& path : journal.journals)
        folders.insert(FolderOf(path));
    if (settled.allNew) {
        for (const std::string& path : journal.removals)
            ::unlink(path.c_str());
    } else {
        for (const TPut& put : journal.puts) {
            if (!HoldsNew(put.target, put))
                continue;
            const bool back = put.existed ? !put.backup.empty() && ::rename(put.backup.c_str(), put.target.c_str()) == 0
                                          : ::unlink(put.target.c_str()) == 0;
            if (!back)
                settled.kept.push_back(put.target);
        }
        if (!settled.kept.empty()) {
            for (const std::string& folder : folders)
                FlushFolder(folder);
            return settled;
        }
    }
    for (const TPut& put : journal.puts) {
        if (HoldsNew(put.hidden, put))
            ::unlink(put.hidden.c_str());
        if (!put.backup.empty())
            ::unlink(put.backup.c_str());
    }
    for (const std::string& folder : folders)
        FlushFolder(folder);
    for (const std::string& path : journal.journals)
        ::unlink(path.c_str());
    for (const std::string& folder : folders)
        FlushFolder(folder);
    return settled;
}

// The journal's name without ".jnl": the start of its group's hidden names.
std::string_view GroupStem(std::string_view journalName)
{
    return journalName.substr(0, journalName.size() - 4);
}

// Settles the groups whose writers were killed part way, by the journals
// they left in the folder.
void SettleLeftGroups(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir))
        if (std::string_view name(entry->d_name); name.starts_with(HiddenPrefix))
            names.emplace_back(name);
    ::closedir(dir);
    const time_t now = ::time(nullptr);
    for (const std::string& name : names) {
        if (!name.ends_with(".jnl"))
            continue;
        const std::string path = Joined(folder, name);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat st {};
        // An empty journal younger than the grace may be one its writer has
        // created and not yet locked.
        const bool young = ::fstat(fd, &st) != 0 || (st.st_size == 0 && now - st.st_mtime < LockGraceSeconds);
        // A journal names a group's files a line or so each: one of a size
        // no group could need is no journal of ours, and is left alone.
        const bool ours = st.st_size <= MaxJournalSize;
        if (S_ISREG(st.st_mode) && !young && ours && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            std::string text(static_cast<std::size_t>(st.st_size), '\0');
            const ssize_t got = ::pread(fd, text.data(), text.size(), 0);
            TJournal journal;
            if (got == st.st_size && ParseJournal(text, journal)) {
                Settle(journal);
            } else {
                // Nothing of the group was put in place: its hidden files go.
                const std::string stem = std::string(GroupStem(name)) + '-';
                for (const std::string& other : names)
                    if (other.starts_with(stem) && (other.ends_with(".tmp") || other.ends_with(".bak")))
                        ::unlink(Joined(folder, other).c_str());
                ::unlink(path.c_str());
                FlushFolder(folder);
            }
        }
        ::close(fd);
    }
}

// Removes the hidden files that a killed write left in the folder: first
// settles the groups left part way, then removes the files no writer holds
// a lock on, but for those of a group whose journal is still there.
void RemoveStaleHiddenFiles(const std::string& folder)
{
    SettleLeftGroups(folder);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return;
    const time_t now = ::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        const bool temporary = name.ends_with(".tmp");
        if (!name.starts_with(HiddenPrefix) || !(temporary || name.ends_with(".bak")))
            continue;
        // ".trelis-PID-XXXXXX-N.tmp" belongs to the group ".trelis-PID-XXXXXX.jnl".
        const std::string_view base = name.substr(0, name.size() - 4);
        if (std::count(base.begin(), base.end(), '-') == 3) {
            const std::string journal = Joined(folder, std::string(base.substr(0, base.rfind('-'))) + ".jnl");
            struct stat st {};
            if (::lstat(journal.c_str(), &st) == 0)
                continue;
        }
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

// A journal of the group in one folder, locked from its creation.
struct TJournalFile {
    std::string path;
    std::string stem; // the start of the group's hidden names in the folder
    TDescriptor file;
};

// Creates an empty journal in the folder, locked before it has its name
// where the file system allows it. Empty on success, otherwise the reason.
std::string CreateJournal(const std::string& folder, TJournalFile& journal)
{
    for (;;) {
        journal.stem = FreeHiddenName(folder, "");
        journal.path = journal.stem + ".jnl";
        int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) {
            const std::string self = "/proc/self/fd/" + std::to_string(fd);
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
                ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, journal.path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
                const int error = errno;
                ::close(fd);
                if (error == EEXIST)
                    continue;
                return SystemReason(error) + ".";
            }
        } else {
            fd = ::open(journal.path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
            if (fd < 0 && errno == EEXIST)
                continue;
            if (fd < 0)
                return "не удаётся создать файл в папке: " + SystemReason(errno) + ".";
            ::flock(fd, LOCK_EX | LOCK_NB);
        }
        journal.file.fd = fd;
        return {};
    }
}

std::string Absolute(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
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
    TStaged file;
    file.target = path;
    file.folder = FolderOf(path);
    RemoveStaleHiddenFiles(file.folder);
    std::string reason = Stage(file, write);
    if (reason.empty() && ::rename(file.hidden.c_str(), path.c_str()) != 0)
        reason = SystemReason(errno) + ".";
    if (!reason.empty()) {
        if (!file.hidden.empty())
            ::unlink(file.hidden.c_str());
        return reason;
    }
    FlushFolder(file.folder);
    return {};
}

std::string SaveFileAtomically(const std::string& path, std::string_view bytes)
{
    return SaveFileAtomically(path, [bytes](std::FILE* file) {
        return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    });
}

std::string SaveFilesTogether(const std::vector<TFileToWrite>& group, const std::vector<std::string>& removals)
{
    if (group.size() == 1 && removals.empty())
        return SaveFileAtomically(group[0].path, group[0].write);
    const std::string unchanged = group.size() > 1 ? " Ни один файл не изменён." : "";
    std::vector<TStaged> files(group.size());
    std::map<std::string, TJournalFile> journals; // by folder
    const auto failed = [&](std::size_t k, const std::string& reason) {
        return "не удалось записать файл " + Quoted(k < files.size() ? files[k].target : group[k].path) + ": " + reason;
    };
    for (std::size_t k = 0; k < group.size(); ++k) {
        if (std::string reason = FollowLinks(group[k].path, files[k].target); !reason.empty())
            return failed(k, reason + ".") + unchanged;
        files[k].folder = FolderOf(files[k].target);
        journals[files[k].folder];
    }
    TJournal journal;
    std::string reason;
    for (auto& [folder, file] : journals) {
        RemoveStaleHiddenFiles(folder);
        if (reason = CreateJournal(folder, file); !reason.empty())
            return failed(0, reason) + unchanged;
        journal.journals.push_back(Absolute(file.path));
    }
    // Every file written in full under its group name, and the old contents
    // of every target kept under a second name, before the journal says so.
    std::size_t k = 0;
    for (; k < files.size() && reason.empty(); ++k) {
        TStaged& file = files[k];
        file.groupName = journals[file.folder].stem + '-' + std::to_string(k) + ".tmp";
        if (reason = Stage(file, group[k].write); !reason.empty())
            break;
        TPut put{Absolute(file.target), Absolute(file.hidden), {}, file.existed};
        struct stat st {};
        if (::lstat(file.hidden.c_str(), &st) != 0) {
            reason = SystemReason(errno) + ".";
            break;
        }
        put.device = st.st_dev;
        put.inode = st.st_ino;
        const std::string backup = journals[file.folder].stem + '-' + std::to_string(k) + ".bak";
        if (file.existed && ::link(file.target.c_str(), backup.c_str()) == 0)
            put.backup = Absolute(backup);
        journal.puts.push_back(std::move(put));
    }
    for (const std::string& path : removals)
        journal.removals.push_back(Absolute(path));
    const std::string text = JournalText(journal);
    for (auto it = journals.begin(); it != journals.end() && reason.empty(); ++it)
        if (::pwrite(it->second.file.fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()) ||
            ::fsync(it->second.file.fd) != 0)
            reason = SystemReason(errno != 0 ? errno : EIO) + ".";
    if (!reason.empty()) {
        // Nothing is in place yet: the group's hidden files and journals go.
        for (const TPut& put : journal.puts)
            for (const std::string& path : {put.hidden, put.backup})
                if (!path.empty())
                    ::unlink(path.c_str());
        if (k < files.size() && !files[k].hidden.empty())
            ::unlink(files[k].hidden.c_str());
        for (const std::string& path : journal.journals)
            ::unlink(path.c_str());
        return failed(std::min(k, files.size() - 1), reason) + unchanged;
    }
    const TSettled settled = Settle(journal);
    if (settled.allNew)
        return {};
    reason = failed(settled.failed, SystemReason(settled.error) + ".");
    if (settled.kept.empty())
        return reason + unchanged;
    std::string kept;
    for (const std::string& path : settled.kept)
        kept += (kept.empty() ? "" : ", ") + Quoted(path);
    return reason + " Уже записаны заново: " + kept + "; остальные файлы остались прежними.";
}

void SettleInterruptedWrites(const std::string& path)
{
    std::string target;
    if (FollowLinks(path, target).empty())
        SettleLeftGroups(FolderOf(target));
}
