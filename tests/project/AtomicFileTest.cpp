// The one writer: a file is all there or not at all, whatever happens on the
// way; permissions of a replaced file stay; nothing hidden is left behind,
// not even by a process killed part way; a group is all new or all old.
#include "project/AtomicFile.h"

#include "tests/images/TempFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

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
    const struct {
        const char* name;
        std::string path;
        TFileWriter write;
        const char* reason;
    } cases[] = {
        {"the target is a folder", Path("folder.csv"), [](std::FILE*) { return true; }, "папка"},
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
        EXPECT_EQ(Listing(), (std::set<std::string>{"old.csv", "folder.csv"}));
    }
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
