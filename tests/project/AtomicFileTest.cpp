// The one writer: a file is all there or not at all, whatever happens on the
// way; permissions of a replaced file stay; nothing hidden is left behind,
// not even by a process killed part way; a group is all new or all old.
#include "project/AtomicFile.h"

#include "tests/images/TempFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

// The writer's calls of rename, unlink and fsync pass through here (the test
// is linked with --wrap): a test can watch them, fail one, or end the process
// at one, as a kill would.
extern "C" {
int __real_rename(const char* from, const char* to);
int __real_unlink(const char* path);
int __real_fsync(int fd);
}

namespace {

struct TSystemCalls {
    int exitAt = 0;            // ends the process at this call of rename or unlink (counted from 1)
    int calls = 0;
    std::string failRename;    // a rename onto this path fails with EXDEV
    std::string failUnlink;    // an unlink of this path fails with EACCES
    std::vector<std::string> events; // "fsync file SIZE MODE", "fsync folder", "rename TO"
    bool watch = false;
};
TSystemCalls Calls;

bool Counted()
{
    return Calls.exitAt > 0 && ++Calls.calls == Calls.exitAt;
}

} // namespace

extern "C" int __wrap_rename(const char* from, const char* to)
{
    if (Counted())
        ::_exit(9);
    if (to == Calls.failRename) {
        errno = EXDEV;
        return -1;
    }
    if (Calls.watch)
        Calls.events.push_back(std::string("rename ") + to);
    return __real_rename(from, to);
}

extern "C" int __wrap_unlink(const char* path)
{
    if (Counted())
        ::_exit(9);
    if (path == Calls.failUnlink) {
        errno = EACCES;
        return -1;
    }
    return __real_unlink(path);
}

extern "C" int __wrap_fsync(int fd)
{
    struct stat st {};
    if (Calls.watch && ::fstat(fd, &st) == 0)
        Calls.events.push_back(S_ISDIR(st.st_mode) ? std::string("fsync folder")
                                                   : "fsync file " + std::to_string(st.st_size) + " " +
                                                         std::to_string(st.st_mode & 07777));
    return __real_fsync(fd);
}

namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public TempFolderTest {
protected:
    static mode_t Mode(const std::string& path)
    {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }
};

TEST_F(AtomicFileTest, WritesReplacesAndKeepsPermissionsOfAnyLegalName)
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const std::string longest = Path(std::string(250, 'n') + ".csv"); // 254 bytes, as long as a name may be
    const std::string fresh = Path("new.csv");
    const std::string kept = Path("kept.trelis");
    WriteText(kept, "old");
    ::chmod(kept.c_str(), 0640);

    EXPECT_EQ(SaveFileAtomically(longest, "a"), "");
    EXPECT_EQ(SaveFileAtomically(fresh, std::string_view("b,c\n")), "");
    EXPECT_EQ(SaveFileAtomically(kept, "new"), "");
    EXPECT_EQ(ReadText(longest), "a");
    EXPECT_EQ(ReadText(fresh), "b,c\n");
    EXPECT_EQ(ReadText(kept), "new");
    EXPECT_EQ(Mode(fresh), 0666 & ~mask);
    EXPECT_EQ(Mode(kept), 0640u);
    EXPECT_EQ(Listing().size(), 3u); // nothing hidden beside them
}

TEST_F(AtomicFileTest, AFailureLeavesTheOldFileAndNothingBeside)
{
    const std::string old = Path("old.csv");
    WriteText(old, "old contents");
    fs::create_directory(Path("folder.csv"));
    ASSERT_EQ(::mkfifo(Path("fifo.csv").c_str(), 0600), 0);
    const struct {
        const char* name;
        std::string path;
        TFileWriter write;
        const char* reason;
    } cases[] = {
        {"the target is a folder", Path("folder.csv"), [](std::FILE*) { return true; }, "папка"},
        {"the target is a pipe", Path("fifo.csv"), [](std::FILE*) { return true; }, "не обычный файл"},
        {"the folder is missing", Path("missing/x.csv"), [](std::FILE*) { return true; }, "папка не существует"},
        {"the writer fails", old, [](std::FILE* f) { return std::fputs("half", f) >= 0 && false; }, "записать"},
        {"a folder takes the place while the file is written", Path("taken.csv"),
         [this](std::FILE*) { return fs::create_directories(Path("taken.csv/inner")); }, "папка"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string reason = SaveFileAtomically(c.path, c.write);
        fs::remove_all(Path("taken.csv"));
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        EXPECT_EQ(ReadText(old), "old contents");
        EXPECT_EQ(Listing(), (std::set<std::string>{"old.csv", "folder.csv", "fifo.csv"}));
        EXPECT_TRUE(fs::is_fifo(Path("fifo.csv")));
    }
}

TEST_F(AtomicFileTest, TheFileReachesTheDiskWholeBeforeItsNameAndTheFolderAfter)
{
    const std::string path = Path("kept.csv");
    WriteText(path, "old");
    ::chmod(path.c_str(), 0640);
    Calls.events.clear();
    Calls.watch = true;
    const std::string reason = SaveFileAtomically(path, [](std::FILE* f) { return std::fputs("buffered", f) >= 0; });
    Calls.watch = false;
    EXPECT_EQ(reason, "");
    // The contents, whole and with the kept permissions, are flushed before
    // the rename that names them, and the folder after it.
    EXPECT_EQ(Calls.events, (std::vector<std::string>{"fsync file 8 " + std::to_string(0640), "rename " + path,
                                                      "fsync folder"}));
}

TEST_F(AtomicFileTest, HiddenFilesOfAKilledWriteGoWithTheNextWrite)
{
    // A writer killed while its file is still unnamed leaves nothing; one
    // killed after naming it leaves a hidden file, which the next write
    // into the folder removes. A live process's hidden file stays.
    const pid_t child = ::fork();
    if (child == 0) {
        SaveFileAtomically(Path("a.csv"), [](std::FILE*) {
            ::_exit(0);
            return true;
        });
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(Listing().empty());

    // A hidden file is left over when no writer holds a lock on it, whatever
    // its name says of the process that made it; a young one may still be
    // on its way to being locked.
    struct TCase {
        std::string name;
        bool locked;
        int age; // seconds
        bool stays;
    };
    const std::vector<TCase> cases = {
        {".trelis-" + std::to_string(child) + "-abcdef.tmp", false, 60, false},
        {".trelis-1234567-abcdef.tmp", false, 60, false}, // a process number of seven digits
        {".trelis-" + std::to_string(::getppid()) + "-abcdef.bak", false, 60, false},
        {".trelis-1-abcdef.tmp", true, 60, true},  // held by a live writer, wherever it runs
        {".trelis-1-ghijkl.bak", true, 600, true},
        {".trelis-1-young0.tmp", false, 0, true},
        {"trelis-1-abcdef.tmp", false, 60, true},  // not one of the writer's names
    };
    std::vector<int> held;
    std::set<std::string> staying{"b.csv"};
    for (const TCase& c : cases) {
        WriteText(Path(c.name), "left behind");
        const timespec times[2] = {{::time(nullptr) - c.age, 0}, {::time(nullptr) - c.age, 0}};
        ::utimensat(AT_FDCWD, Path(c.name).c_str(), times, 0);
        if (c.locked) {
            held.push_back(::open(Path(c.name).c_str(), O_RDONLY));
            ASSERT_EQ(::flock(held.back(), LOCK_EX), 0);
        }
        if (c.stays)
            staying.insert(c.name);
    }
    EXPECT_EQ(SaveFileAtomically(Path("b.csv"), "b"), "");
    EXPECT_EQ(Listing(), staying);
    for (const int fd : held)
        ::close(fd);

    // A group's files wait under hidden names while the next is written: a
    // write into the folder meanwhile, by anyone, leaves them alone, however
    // old they look.
    const std::string first = Path("pair.llt");
    const auto makeOld = [this] {
        for (const std::string& name : Listing())
            if (name.starts_with(".trelis-") && name.ends_with(".tmp")) {
                const timespec past[2] = {{::time(nullptr) - 600, 0}, {::time(nullptr) - 600, 0}};
                ::utimensat(AT_FDCWD, Path(name).c_str(), past, 0);
            }
        return SaveFileAtomically(Path("other.csv"), "o").empty();
    };
    EXPECT_EQ(SaveFilesTogether({{first, [](std::FILE* f) { return std::fputs("sequence", f) >= 0; }},
                                 {Path("pair.nam"), [&](std::FILE* f) { return makeOld() && std::fputs("names", f) >= 0; }}}),
              "");
    EXPECT_EQ(ReadText(first), "sequence");
    EXPECT_EQ(ReadText(Path("pair.nam")), "names");
}

TEST_F(AtomicFileTest, AGroupIsAllNewOrAllOld)
{
    const std::string first = Path("a.llt");
    const std::string second = Path("a.nam");
    WriteText(first, "old sequence");
    EXPECT_EQ(SaveFilesTogether({{first, [](std::FILE* f) { return std::fputs("new sequence", f) >= 0; }},
                                 {second, [](std::FILE* f) { return std::fputs("new names", f) >= 0; }}}),
              "");
    EXPECT_EQ(ReadText(first), "new sequence");
    EXPECT_EQ(ReadText(second), "new names");

    // The second file cannot be put in place (something took its place while
    // it was written): the first gets its old contents back, and the
    // message says so.
    const std::string message =
        SaveFilesTogether({{first, [](std::FILE* f) { return std::fputs("newer sequence", f) >= 0; }},
                           {second, [&](std::FILE* f) {
                                fs::remove(second);
                                fs::create_directories(second + "/taken");
                                return std::fputs("newer names", f) >= 0;
                            }}});
    EXPECT_NE(message.find("«" + second + "»"), std::string::npos) << message;
    EXPECT_NE(message.find("Ни один файл не изменён"), std::string::npos) << message;
    EXPECT_EQ(ReadText(first), "new sequence");
    EXPECT_EQ(Listing(), (std::set<std::string>{"a.llt", "a.nam"}));

    // A new file put in place that cannot be taken back is named as written;
    // the group's journal and backups stay until the group can be settled.
    const std::string fresh = Path("b.llt");
    fs::remove_all(second);
    Calls.failRename = second;
    Calls.failUnlink = fresh;
    const std::string kept = SaveFilesTogether({{fresh, [](std::FILE* f) { return std::fputs("b", f) >= 0; }},
                                                {second, [](std::FILE* f) { return std::fputs("b names", f) >= 0; }}});
    Calls = {};
    EXPECT_NE(kept.find("Уже записаны заново: «" + fresh + "»"), std::string::npos) << kept;
    EXPECT_EQ(kept.find("Ни один файл не изменён"), std::string::npos) << kept;
    SettleInterruptedWrites(second);
    EXPECT_EQ(ReadText(fresh), "b");
    EXPECT_EQ(ReadText(second), "b names");
    EXPECT_EQ(Listing(), (std::set<std::string>{"a.llt", "a.nam", "b.llt"}));
}

TEST_F(AtomicFileTest, AGroupKilledAtAnyStepIsSettledAllNewOrAllOldByWhoeverComesNext)
{
    // The group: a sequence and its names, a table in a folder below, and a
    // picture that goes with them. The writer is ended at each of its
    // renames and removals in turn; then a reader of either folder, or a
    // writer into the folder, finds the group all new or all old.
    fs::create_directories(Path("sub"));
    const std::string llt = Path("a.llt"), nam = Path("a.nam"), csv = Path("sub/b.csv"), png = Path("old.png");
    const auto group = [&] {
        return std::vector<TFileToWrite>{{llt, [](std::FILE* f) { return std::fputs("new", f) >= 0; }},
                                         {nam, [](std::FILE* f) { return std::fputs("new", f) >= 0; }},
                                         {csv, [](std::FILE* f) { return std::fputs("new", f) >= 0; }}};
    };
    int killed = 0, allNew = 0;
    for (int at = 1;; ++at) {
        SCOPED_TRACE("ended at call " + std::to_string(at));
        for (const std::string& path : {llt, nam, csv, png})
            WriteText(path, "old");
        const pid_t child = ::fork();
        if (child == 0) {
            Calls.exitAt = at;
            ::_exit(SaveFilesTogether(group(), {png}).empty() ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) != 9) {
            EXPECT_EQ(WEXITSTATUS(status), 0);
            break;
        }
        ++killed;
        if (at % 3 == 0)
            EXPECT_EQ(SaveFileAtomically(Path("other.csv"), "o"), "");
        else
            SettleInterruptedWrites(at % 3 == 1 ? llt : csv);
        const std::string state = ReadText(llt);
        allNew += state == "new";
        EXPECT_EQ(ReadText(nam), state);
        EXPECT_EQ(ReadText(csv), state);
        EXPECT_EQ(fs::exists(png), state == "old");
        // Settled, the group leaves nothing hidden once both folders are seen.
        SettleInterruptedWrites(llt);
        SettleInterruptedWrites(csv);
        for (const std::string& folder : {Path(""), Path("sub")})
            for (const auto& entry : fs::directory_iterator(folder))
                EXPECT_FALSE(entry.path().filename().string().starts_with(".trelis-")) << entry.path();
    }
    EXPECT_GT(killed, 3);
    EXPECT_EQ(allNew, killed); // every file was written before the first rename

    // Killed while writing its journals, before any rename: a journal cut
    // short settles the group all old, and its hidden files go however young.
    for (const std::string& path : {llt, nam, csv})
        WriteText(path, "old");
    const pid_t writer = ::fork();
    if (writer == 0) {
        Calls.exitAt = 1;
        ::_exit(SaveFilesTogether(group()).empty() ? 0 : 1);
    }
    ::waitpid(writer, nullptr, 0);
    for (const std::string& folder : {Path(""), Path("sub")})
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().extension() == ".jnl") // "end" and its line break cut off
                fs::resize_file(entry.path(), fs::file_size(entry.path()) - 4);
    SettleInterruptedWrites(llt);
    SettleInterruptedWrites(csv);
    EXPECT_EQ(ReadText(llt) + ReadText(nam) + ReadText(csv), "oldoldold");
    EXPECT_EQ(Listing(), (std::set<std::string>{"a.llt", "a.nam", "other.csv", "sub"}));
    EXPECT_EQ(std::distance(fs::directory_iterator(Path("sub")), fs::directory_iterator()), 1);

    // Killed after its first rename, with the next file's new contents lost
    // meanwhile: the first target gets its old contents back from the backup,
    // which nothing removes before.
    WriteText(llt, "old");
    WriteText(nam, "old");
    const pid_t child = ::fork();
    if (child == 0) {
        Calls.exitAt = 2;
        ::_exit(SaveFilesTogether({group()[0], group()[1]}).empty() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 9);
    EXPECT_EQ(ReadText(llt), "new");
    for (const std::string& name : Listing())
        if (name.ends_with(".tmp"))
            fs::remove(Path(name));
    SettleInterruptedWrites(nam);
    EXPECT_EQ(ReadText(llt), "old");
    EXPECT_EQ(ReadText(nam), "old");
    EXPECT_EQ(Listing(), (std::set<std::string>{"a.llt", "a.nam", "other.csv", "sub"}));
}

} // namespace

TEST_F(AtomicFileTest, AWriteOntoALinkWritesItsFileAndKeepsTheLink)
{
    fs::create_directories(Path("deploy"));
    WriteText(Path("deploy/model.onnx"), "old");
    WriteText(Path("deploy/names.nam"), "old names");
    fs::create_symlink("deploy/model.onnx", Path("model.onnx"));              // relative
    fs::create_symlink(Path("deploy/names.nam"), Path("names.nam"));         // absolute
    fs::create_symlink("model.onnx", Path("chain.onnx"));                    // a link to a link
    fs::create_symlink("deploy/gone.onnx", Path("dangling.onnx"));
    fs::create_symlink("loop-b", Path("loop-a"));
    fs::create_symlink("loop-a", Path("loop-b"));
    struct TCase {
        std::string link;
        std::string lands; // the file that gets the bytes; empty: refused
        std::string reason;
    };
    const std::vector<TCase> cases = {
        {Path("model.onnx"), Path("deploy/model.onnx"), ""},
        {Path("chain.onnx"), Path("deploy/model.onnx"), ""},
        {Path("names.nam"), Path("deploy/names.nam"), ""},
        {Path("dangling.onnx"), "", "указывает на несуществующий файл «" + Path("deploy/gone.onnx") + "»"},
        {Path("loop-a"), "", "ведёт по кругу"},
    };
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.link);
        const std::string bytes = "new " + std::to_string(++n);
        const std::string reason = SaveFileAtomically(c.link, bytes);
        EXPECT_EQ(WriteRefusal(c.link).empty(), c.reason.empty());
        if (c.reason.empty()) {
            EXPECT_EQ(reason, "");
            EXPECT_EQ(ReadText(c.lands), bytes);
        } else {
            EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        }
        EXPECT_TRUE(fs::is_symlink(c.link)); // the link stays a link
    }
    // A group keeps its links too, and a dangling one changes nothing.
    EXPECT_EQ(SaveFilesTogether({{Path("model.onnx"), [](std::FILE* f) { return std::fputs("pair", f) >= 0; }},
                                 {Path("names.nam"), [](std::FILE* f) { return std::fputs("pair", f) >= 0; }}}),
              "");
    EXPECT_EQ(ReadText(Path("deploy/model.onnx")), "pair");
    EXPECT_EQ(ReadText(Path("deploy/names.nam")), "pair");
    EXPECT_NE(SaveFilesTogether({{Path("model.onnx"), [](std::FILE* f) { return std::fputs("x", f) >= 0; }},
                                 {Path("dangling.onnx"), [](std::FILE* f) { return std::fputs("x", f) >= 0; }}})
                  .find("Ни один файл не изменён"),
              std::string::npos);
    EXPECT_EQ(ReadText(Path("deploy/model.onnx")), "pair");
    EXPECT_TRUE(fs::is_symlink(Path("model.onnx")) && fs::is_symlink(Path("names.nam")));
}
