// The class-names file and the name it gets beside a sequence file.

#include "images/ClassNames.h"
#include "images/Cp1251.h"
#include "TempFiles.h"

namespace {

using Names = std::vector<std::string>;

Bytes AsBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

class ClassNamesFile : public TempFolderTest {};

} // namespace

TEST_F(ClassNamesFile, WrittenOnePerLineAndReadBackInTheirPlaces) {
    const struct {
        Names names;
        std::string bytes;
        Names back;
    } cases[] = {
        {{"0", "circle", "1x"}, "0\r\ncircle\r\n1x\r\n", {"0", "circle", "1x"}},
        {{}, "", {}},
        // Cyrillic keeps its single-byte codes: Круг, Квадрат.
        {{"\xCA\xF0\xF3\xE3", "\xCA\xE2\xE0\xE4\xF0\xE0\xF2"}, "\xCA\xF0\xF3\xE3\r\n\xCA\xE2\xE0\xE4\xF0\xE0\xF2\r\n",
         {"\xCA\xF0\xF3\xE3", "\xCA\xE2\xE0\xE4\xF0\xE0\xF2"}},
        // Empty and blank names come back as the same classes.
        {{"0", "", "big circle", "\t", "tab\there"}, "0\r\n1\r\nbig_circle\r\n_\r\ntab_here\r\n",
         {"0", "1", "big_circle", "_", "tab_here"}},
        // A first name that starts with the byte-order mark comes back whole.
        {{"\xEF\xBB\xBF\x80x", "y"}, "\xEF\xBB\xBF\xEF\xBB\xBF\x80x\r\ny\r\n", {"\xEF\xBB\xBF\x80x", "y"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteClassNames(Path("a.nam"), c.names));
        EXPECT_EQ(ReadBytes(Path("a.nam")), AsBytes(c.bytes));
        const TClassNamesFile read = LoadClassNames(Path("a.nam"));
        EXPECT_TRUE(read.Ok());
        EXPECT_EQ(read.names, c.back);
    }
}

TEST_F(ClassNamesFile, ReaderTakesWhiteSpaceSeparatedWords) {
    WriteBytes(Path("w.nam"), AsBytes("first second\r\nthird\r\n"));
    EXPECT_EQ(LoadClassNames(Path("w.nam")).names, (Names{"first", "second", "third"}));

    WriteBytes(Path("ws.nam"), AsBytes("  a\tb\vc\fd\re\n\n\r\nf"));
    EXPECT_EQ(LoadClassNames(Path("ws.nam")).names, (Names{"a", "b", "c", "d", "e", "f"}));

    // 0xA0 is a letter-like byte here (a no-break space in the code page),
    // not a separator.
    WriteBytes(Path("nb.nam"), AsBytes("\xE0\xA0\xE1 x"));
    EXPECT_EQ(LoadClassNames(Path("nb.nam")).names, (Names{"\xE0\xA0\xE1", "x"}));
}

TEST_F(ClassNamesFile, LongWordsAreKeptWhole) {
    const std::string longName(5000, 'q');
    const std::string at199(199, 'z');
    WriteBytes(Path("long.nam"), AsBytes(at199 + "\r\n" + longName + "\r\nend\r\n"));
    EXPECT_EQ(LoadClassNames(Path("long.nam")).names, (Names{at199, longName, "end"}));
}

TEST_F(ClassNamesFile, UnreachableFilesReadNothingAndWriteNothing) {
    const TClassNamesFile missing = LoadClassNames(Path("missing.nam"));
    EXPECT_TRUE(missing.names.empty());
    EXPECT_FALSE(missing.Ok());
    // A folder opens for reading but holds no names.
    std::filesystem::create_directory(Path("folder.nam"));
    const TClassNamesFile folder = LoadClassNames(Path("folder.nam"));
    EXPECT_TRUE(folder.names.empty());
    EXPECT_FALSE(folder.Ok());
    EXPECT_FALSE(WriteClassNames(Path("no/such/folder.nam"), {"a"}));
}

TEST_F(ClassNamesFile, Utf8FilesAreRecognisedAndEverythingElseIsTheCodePage) {
    const std::string bom = "\xEF\xBB\xBF";
    const std::string krug = "\xD0\x9A\xD1\x80\xD1\x83\xD0\xB3";   // Круг in UTF-8
    const std::string krug1251 = "\xCA\xF0\xF3\xE3";
    struct Case {
        std::string file;
        TTextEncoding encoding;
        Names names;    // as stored, without the byte-order mark
        Names cp1251;   // as the code page has them
    };
    const Case cases[] = {
        {bom + "a b\r\n", TTextEncoding::Utf8, {"a", "b"}, {"a", "b"}},
        {bom, TTextEncoding::Utf8, {}, {}},
        {bom + krug + "\r\n\xD0\x81\xD0\xB6", TTextEncoding::Utf8, {krug, "\xD0\x81\xD0\xB6"}, {krug1251, "\xA8\xE6"}},
        {"x " + krug, TTextEncoding::Utf8, {"x", krug}, {"x", krug1251}},
        // Characters the code page lacks, and a byte-order mark before bytes
        // that are no UTF-8.
        {"\xE6\x97\xA5\xE2\x84\x96 \xF0\x9F\x98\x80", TTextEncoding::Utf8, {"\xE6\x97\xA5\xE2\x84\x96", "\xF0\x9F\x98\x80"}, {"?\xB9", "?"}},
        {bom + "\xCA\xF0", TTextEncoding::Utf8, {"\xCA\xF0"}, {"??"}},
        {krug1251, TTextEncoding::Cp1251, {krug1251}, {krug1251}},
        {"plain text", TTextEncoding::Cp1251, {"plain", "text"}, {"plain", "text"}},
        // Valid UTF-8 but for one place: a cut character, an overlong form,
        // a surrogate, a value beyond U+10FFFF.
        {krug + " \xD0", TTextEncoding::Cp1251, {krug, "\xD0"}, {krug, "\xD0"}},
        {krug + " \xC0\xAF", TTextEncoding::Cp1251, {krug, "\xC0\xAF"}, {krug, "\xC0\xAF"}},
        {krug + " \xED\xA0\x80", TTextEncoding::Cp1251, {krug, "\xED\xA0\x80"}, {krug, "\xED\xA0\x80"}},
        {krug + " \xF4\x90\x80\x80", TTextEncoding::Cp1251, {krug, "\xF4\x90\x80\x80"}, {krug, "\xF4\x90\x80\x80"}},
    };
    for (const Case& c : cases) {
        WriteBytes(Path("e.nam"), AsBytes(c.file));
        const TClassNamesFile read = LoadClassNames(Path("e.nam"));
        ASSERT_TRUE(read.Ok()) << c.file;
        EXPECT_EQ(read.encoding, c.encoding) << c.file;
        EXPECT_EQ(read.names, c.names) << c.file;
        Names cp1251 = read.names;
        if (read.encoding == TTextEncoding::Utf8)
            for (std::string& name : cp1251)
                name = Utf8ToCp1251(name);
        EXPECT_EQ(cp1251, c.cp1251) << c.file;
    }
}

TEST(ClassNamesFileName, TheLastThreeCharactersReplacedOrNamAddedInTheSameFolder) {
    for (const auto& [sequence, names] : std::vector<std::pair<std::string, std::string>>{
             {"a.llt", "a.nam"},
             {"/home/user/data/digits.LLT", "/home/user/data/digits.nam"},
             {"figures.txt", "figures.nam"},
             {"abc", "nam"},
             // A UTF-8 name: three characters, not three bytes.
             {"/tmp/\xD0\xBA\xD1\x80\xD1\x83\xD0\xB3.\xD0\xBB\xD0\xBB\xD1\x82", "/tmp/\xD0\xBA\xD1\x80\xD1\x83\xD0\xB3.nam"},
             // Names shorter than three characters stay in their folder.
             {"ab", "ab.nam"},
             {"/data/x", "/data/x.nam"},
             {"/data/", "/data/.nam"},
             {"", ".nam"}})
        EXPECT_EQ(ClassNamesFileName(sequence), names) << sequence;
}

// The code page both ways: every byte is a character of its own that comes
// back as the same byte; characters the code page lacks, and broken UTF-8,
// become one '?' each.
TEST(Cp1251, EveryByteRoundTripsAndForeignCharactersBecomeQuestionMarks) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const std::string text = Cp1251ToUtf8(all);
    EXPECT_EQ(Utf8ToCp1251(text), all);
    EXPECT_EQ(Cp1251ToUtf8("\xCA\xEE\xF2\xA8\xB8"), "Кот\u0401\u0451");
    EXPECT_EQ(Utf8ToCp1251("АЯаяЁё"), "\xC0\xDF\xE0\xFF\xA8\xB8");
    EXPECT_EQ(Utf8ToCp1251("a\u4E2Db\U0001F600\xED\xA0\x80"), "a?b????");
}
