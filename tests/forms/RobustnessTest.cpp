// Bad input through the windows' handlers, row by row: every numeric edit
// field with texts that are not acceptable numbers, every file reader the
// user reaches with files that are not what it reads. Each row must give
// one clear message (or the behaviour the command always has) and leave
// the project exactly as it was.

// GCC 12 at -O3 reports a false -Wrestrict inside the standard library for
// `"literal" + std::string` once inlined (its bug 105329); the fixture's
// snapshot code builds texts that way.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

#include "RobustnessFixture.h"

#include "framework/Convert.h"

#include <QDir>
#include <QFileDevice>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include <optional>
#include <ostream>
#include <random>

namespace robustness {
namespace {

// ---- Edit fields ---------------------------------------------------------

enum class Field { ElementSize, ClassCount, HiddenCount, WindowSize, TrainLength };

const char* FieldName(Field field)
{
    switch (field) {
    case Field::ElementSize:
        return "ElementSize";
    case Field::ClassCount:
        return "ClassCount";
    case Field::HiddenCount:
        return "HiddenCount";
    case Field::WindowSize:
        return "WindowSize";
    case Field::TrainLength:
        return "TrainLength";
    }
    return "";
}

struct BadText {
    const char* name; // for the test's name
    const char* text; // UTF-8
    bool integer;     // a whole number of 32 bits, refused for its value
};

const BadText BadTexts[] = {
    {"Empty", "", false},
    {"Blanks", "   ", false},
    {"Letters", "abc", false},
    {"DigitsThenLetters", "12abc", false},
    {"Minus", "-", false},
    {"Plus", "+", false},
    {"Exponent", "1e3", false},
    {"Hexadecimal", "0x10", false},
    {"LeadingBlank", " 7", false},
    {"TrailingBlank", "7 ", false},
    {"FullwidthDigit", "\xEF\xBC\x97", false},
    {"TwentyDigits", "99999999999999999999", false},
    {"JustAboveInt32", "2147483648", false},
    {"JustBelowInt32", "-2147483649", false},
    {"Zero", "0", true},
    {"Negative", "-5", true},
    {"LargestInt32", "2147483647", true},
    {"SmallestInt32", "-2147483648", true},
};

struct EditRow {
    Field field;
    BadText bad;
};

std::vector<EditRow> EditRows()
{
    std::vector<EditRow> rows;
    for (const Field field : {Field::ElementSize, Field::ClassCount, Field::HiddenCount, Field::WindowSize,
                              Field::TrainLength})
        for (const BadText& bad : BadTexts)
            rows.push_back({field, bad});
    return rows;
}

void PrintTo(const BadText& bad, std::ostream* out)
{
    *out << "'" << bad.text << "'";
}

void PrintTo(const EditRow& row, std::ostream* out)
{
    *out << FieldName(row.field) << " '" << row.bad.text << "'";
}

class BadEditText : public ProjectInUse, public ::testing::WithParamInterface<EditRow> {};

TEST_P(BadEditText, IsRefusedWithOneMessageAndChangesNothing)
{
    const EditRow& row = GetParam();
    const QString text = QString::fromUtf8(row.bad.text);
    const TProjectSnapshot before = TProjectSnapshot::Take();
    TProjectSnapshot expected = before;
    bool dialogOpen = false;
    if (row.field == Field::WindowSize || row.field == Field::TrainLength) {
        const QString path = folder.filePath(QStringLiteral("ten.ser"));
        const bool window = row.field == Field::WindowSize;
        dialogOpen = !LoadSeries(path, window ? text : QStringLiteral("3"), window ? QStringLiteral("8") : text);
    } else {
        const QString e = row.field == Field::ElementSize ? text : QStringLiteral("16");
        const QString c = row.field == Field::ClassCount ? text : QStringLiteral("3");
        const QString h = row.field == Field::HiddenCount ? text : QStringLiteral("5");
        user = [&](TForm&) {
            Form6->Edit1->setText(e);
            Form6->Edit2->setText(c);
            Form6->Edit3->setText(h);
            Form6->Button1->click();
            dialogOpen = Form6->isVisible();
        };
        Form1->N15->trigger();
        user = nullptr;
        // "Новый проект" closes the retina view and disables the sequence
        // commands before its dialog shows, whatever the dialog then does.
        expected = AsNewProjectBegins(before);
    }

    EXPECT_TRUE(dialogOpen) << "the dialog stays open to be corrected";
    const QStringList boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1) << log.join(" | ").toStdString();
    if (row.bad.integer) {
        // The message names the number refused, as a number of its own.
        const QRegularExpression number(QStringLiteral("(^|[^0-9-])%1([^0-9]|$)")
                                            .arg(QRegularExpression::escape(text)));
        EXPECT_TRUE(boxes[0].contains(number)) << boxes[0].toStdString();
        EXPECT_FALSE(boxes[0].contains(QStringLiteral("not a valid integer"))) << boxes[0].toStdString();
    } else {
        EXPECT_EQ(boxes[0], QStringLiteral("'%1' is not a valid integer value").arg(text));
    }
    const TProjectSnapshot after = TProjectSnapshot::Take();
    EXPECT_EQ(after.Differences(expected), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(AllFields, BadEditText, ::testing::ValuesIn(EditRows()),
                         [](const ::testing::TestParamInfo<EditRow>& info) {
                             return std::string(FieldName(info.param.field)) + info.param.bad.name;
                         });

// ---- Files ---------------------------------------------------------------

enum class Kind { Empty, Folder, Unreadable, Truncated, CutInsideNumber, Random };

const char* KindName(Kind kind)
{
    switch (kind) {
    case Kind::Empty:
        return "Empty";
    case Kind::Folder:
        return "Folder";
    case Kind::Unreadable:
        return "Unreadable";
    case Kind::Truncated:
        return "Truncated";
    case Kind::CutInsideNumber:
        return "CutInsideNumber";
    case Kind::Random:
        return "Random";
    }
    return "";
}

struct FileRow {
    Kind kind;
    std::size_t size = 0; // bytes of a random file
};

std::string RowName(const FileRow& row)
{
    return std::string(KindName(row.kind)) + (row.kind == Kind::Random ? std::to_string(row.size) : "");
}

void PrintTo(const FileRow& row, std::ostream* out)
{
    *out << RowName(row);
}

// Bytes from a fixed seed: the same file on every run.
std::string RandomBytes(std::size_t size)
{
    std::mt19937 generator(static_cast<std::uint32_t>(20240601u + size));
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(byte(generator));
    return bytes;
}

// Random sizes: one byte, less than a header, a header exactly, a few
// records' worth, and more than one read buffer of the readers.
const std::size_t RandomSizes[] = {1, 7, 8, 100, 70000};

std::vector<FileRow> FileRows(std::initializer_list<Kind> kinds)
{
    std::vector<FileRow> rows;
    for (const Kind kind : kinds) {
        if (kind != Kind::Random) {
            rows.push_back({kind});
            continue;
        }
        for (const std::size_t size : RandomSizes)
            rows.push_back({kind, size});
    }
    return rows;
}

// A reader's own files: a good one, one cut short, one cut inside a number.
struct ReaderFiles {
    std::string good, truncated, cut;
};

// Why a row without read permission is skipped.
const char* const PermissionNotEnforced =
    "files without read permission are still readable here (the tests run as root)";

class BadFileUser : public ProjectInUse {
protected:
    // The file of the row's kind, by its full name; nothing when files
    // without read permission can be read all the same.
    std::optional<QString> Make(const FileRow& row, const QString& name, const ReaderFiles& files)
    {
        switch (row.kind) {
        case Kind::Empty:
            return File(name, "");
        case Kind::Folder:
            EXPECT_TRUE(QDir(folder.path()).mkdir(name));
            return folder.filePath(name);
        case Kind::Unreadable: {
            const QString path = File(name, files.good);
            QFile::setPermissions(path, QFileDevice::Permissions());
            QFile probe(path);
            if (probe.open(QIODevice::ReadOnly))
                return std::nullopt;
            return path;
        }
        case Kind::Truncated:
            return File(name, files.truncated);
        case Kind::CutInsideNumber:
            return File(name, files.cut);
        case Kind::Random:
            return File(name, RandomBytes(row.size));
        }
        return std::nullopt;
    }

    // Exactly one message, naming the file.
    void ExpectOneMessageNaming(const QString& path)
    {
        const QStringList boxes = Boxes();
        ASSERT_EQ(boxes.size(), 1) << log.join(" | ").toStdString();
        EXPECT_TRUE(boxes[0].contains(QFileInfo(path).fileName())) << boxes[0].toStdString();
    }
};

// The sequence file, "Последовательность" / "Из файла".

// Three records of four cells; the count, 3, and a cell pattern.
std::string GoodSequence()
{
    return std::string("\x04\0\0\0\x03\0\0\0", 8) + std::string("\x01\0\0\0\x01\0\0\x01", 8) +
           std::string("\x00\0\0\0\x00\x01\x01\x00", 8) + std::string("\x02\0\0\0\x01\x01\x01\x01", 8);
}

class BadSequenceFile : public BadFileUser, public ::testing::WithParamInterface<FileRow> {};

TEST_P(BadSequenceFile, IsRefusedWithOneMessageAndOnlyEnablesTheSequenceCommands)
{
    const std::string good = GoodSequence();
    const std::optional<QString> path =
        Make(GetParam(), QStringLiteral("bad.llt"), {good, good.substr(0, good.size() - 3), good.substr(0, 6)});
    if (!path)
        GTEST_SKIP() << PermissionNotEnforced;
    File(QStringLiteral("bad.nam"), "a b c\r\n");
    const TProjectSnapshot before = TProjectSnapshot::Take();

    dialogAnswer = *path;
    Form1->N7->trigger();

    ExpectOneMessageNaming(*path);
    EXPECT_TRUE(Boxes().value(0).contains(QStringLiteral("Последовательность осталась прежней")));
    // The class names stay with the sequence they belong to; only the four
    // sequence commands change, as after every load.
    EXPECT_EQ(TProjectSnapshot::Take().Differences(WithSequenceCommandsEnabled(before)),
              std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Files, BadSequenceFile,
                         ::testing::ValuesIn(FileRows({Kind::Empty, Kind::Folder, Kind::Unreadable, Kind::Truncated,
                                                       Kind::CutInsideNumber, Kind::Random})),
                         [](const ::testing::TestParamInfo<FileRow>& info) { return RowName(info.param); });

// The class-names file beside a good sequence file.

class BadNamesFile : public BadFileUser, public ::testing::WithParamInterface<FileRow> {
protected:
    static QStringList ClassList()
    {
        QStringList items;
        for (int i = 0; i < SmImForm->ComboBox1->count(); ++i)
            items << SmImForm->ComboBox1->itemText(i);
        return items;
    }
};

TEST_P(BadNamesFile, LoadsTheSequenceAndNamesOnlyWhatTheFileHolds)
{
    const std::optional<QString> names =
        Make(GetParam(), QStringLiteral("names.nam"),
             {Utf8ToCp1251("круг квадрат\r\n"), Utf8ToCp1251("круг квад"),
              Utf8ToCp1251("круг квадрат\r")});
    if (!names)
        GTEST_SKIP() << PermissionNotEnforced;
    const QString sequence = File(QStringLiteral("names.llt"), GoodSequence());

    dialogAnswer = sequence;
    Form1->N7->trigger();

    EXPECT_EQ(TrainingSequence.Count, 3u);
    EXPECT_EQ(TrainingSequence.Dimension, 4u);
    EXPECT_EQ(RingFault(TrainingSequence), "");
    EXPECT_EQ(ClassList(), GridNames());
    for (const QString& name : GridNames()) {
        EXPECT_FALSE(name.isEmpty());
        EXPECT_FALSE(name.contains(QRegularExpression(QStringLiteral("[ \t\r\n\v\f]")))) << name.toStdString();
    }
    const Kind kind = GetParam().kind;
    if (kind == Kind::Folder || kind == Kind::Unreadable) {
        // A names file that cannot be read is said so; the classes are unnamed.
        ExpectOneMessageNaming(*names);
        EXPECT_TRUE(GridNames().isEmpty());
        return;
    }
    EXPECT_EQ(Boxes(), QStringList{});
    if (kind == Kind::Empty) {
        EXPECT_TRUE(GridNames().isEmpty());
    }
    if (kind == Kind::Truncated || kind == Kind::CutInsideNumber) {
        EXPECT_EQ(GridNames().value(0), QStringLiteral("круг"));
    }

    // Whatever names came in go out and come back the same.
    const QStringList loaded = GridNames();
    dialogAnswer = folder.filePath(QStringLiteral("again.llt"));
    Form1->N8Click();
    Form7->StringGrid1->SetRowCount(1);
    Form1->N7->trigger();
    EXPECT_EQ(GridNames(), loaded);
    EXPECT_EQ(Boxes(), QStringList{});
}

INSTANTIATE_TEST_SUITE_P(Files, BadNamesFile,
                         ::testing::ValuesIn(FileRows({Kind::Empty, Kind::Folder, Kind::Unreadable, Kind::Truncated,
                                                       Kind::CutInsideNumber, Kind::Random})),
                         [](const ::testing::TestParamInfo<FileRow>& info) { return RowName(info.param); });

// The series file, "Временной ряд" / "Из файла" and "Обновить".

enum class SeriesCommand { Load, Reload };

struct SeriesRow {
    SeriesCommand command;
    FileRow file;
};

std::vector<SeriesRow> SeriesRows()
{
    std::vector<SeriesRow> rows;
    for (const SeriesCommand command : {SeriesCommand::Load, SeriesCommand::Reload})
        for (const FileRow& file : FileRows({Kind::Empty, Kind::Folder, Kind::Unreadable, Kind::Truncated,
                                             Kind::CutInsideNumber, Kind::Random}))
            rows.push_back({command, file});
    return rows;
}

void PrintTo(const SeriesRow& row, std::ostream* out)
{
    *out << (row.command == SeriesCommand::Load ? "load " : "reload ") << RowName(row.file);
}

class BadSeriesFile : public BadFileUser, public ::testing::WithParamInterface<SeriesRow> {};

TEST_P(BadSeriesFile, IsRefusedWithOneMessageAndChangesNothing)
{
    const std::optional<QString> path = Make(GetParam().file, QStringLiteral("bad.ser"),
                                             {TenValues, "10\n5 1 4 2 8 3\n", "10\n5 1 4 2 8 3 9 0 7 6e"});
    if (!path)
        GTEST_SKIP() << PermissionNotEnforced;
    const TProjectSnapshot before = TProjectSnapshot::Take();

    if (GetParam().command == SeriesCommand::Load) {
        EXPECT_FALSE(LoadSeries(*path, QStringLiteral("3"), QStringLiteral("8")))
            << "the dialog stays open to choose another file";
    } else {
        dialogAnswer = *path;
        Form1->N27->trigger();
    }

    ExpectOneMessageNaming(*path);
    EXPECT_EQ(TProjectSnapshot::Take().Differences(before), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Files, BadSeriesFile, ::testing::ValuesIn(SeriesRows()),
                         [](const ::testing::TestParamInfo<SeriesRow>& info) {
                             return std::string(info.param.command == SeriesCommand::Load ? "Load" : "Reload") +
                                    RowName(info.param.file);
                         });

// ---- Class names ---------------------------------------------------------

// Any text is a valid class name. Saved beside the sequence and loaded
// back, a name keeps its class's place: blanks are stored as '_', an empty
// name as its class number, and a character the names file's code page
// lacks as '?'.
struct NameRow {
    const char* name;
    QString typed;
    QString back; // as it comes back from the names file
};

std::vector<NameRow> NameRows()
{
    const QString longName(300, QChar(0x044F)); // "яяя…", longer than any word the old reader kept
    return {
        {"Empty", QString(), QStringLiteral("2")},
        {"Blanks", QStringLiteral("   "), QStringLiteral("___")},
        {"Tab", QStringLiteral("\t"), QStringLiteral("_")},
        {"TwoWords", QStringLiteral("большой круг"), QStringLiteral("большой_круг")},
        {"LineBreak", QStringLiteral("круг\r\nквадрат"), QStringLiteral("круг__квадрат")},
        {"Minus", QStringLiteral("-"), QStringLiteral("-")},
        {"Plus", QStringLiteral("+"), QStringLiteral("+")},
        {"TwentyDigits", QStringLiteral("99999999999999999999"), QStringLiteral("99999999999999999999")},
        {"Negative", QStringLiteral("-5"), QStringLiteral("-5")},
        {"CodePageLetters", QStringLiteral("Ёё№€"), QStringLiteral("Ёё№€")},
        {"Chinese", QStringLiteral("日本"), QStringLiteral("??")},
        {"Emoji", QStringLiteral("a\U0001F600b"), QStringLiteral("a?b")},
        {"Long", longName, longName},
    };
}

void PrintTo(const NameRow& row, std::ostream* out)
{
    *out << row.name;
}

class ClassNameText : public ProjectInUse, public ::testing::WithParamInterface<NameRow> {
protected:
    // Class and the Dimension bytes the sequence file keeps of every element.
    static std::vector<std::pair<std::int32_t, std::vector<std::int8_t>>> Elements()
    {
        std::vector<std::pair<std::int32_t, std::vector<std::int8_t>>> out;
        const TAbsImage* e = TrainingSequence.Current;
        for (std::uint32_t k = 0; k < TrainingSequence.Count; ++k, e = e->Next)
            out.emplace_back(e->ClassIndex, std::vector<std::int8_t>(e->Cells.begin(),
                                                                     e->Cells.begin() + TrainingSequence.Dimension));
        return out;
    }

    static QByteArray Bytes(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

TEST_P(ClassNameText, IsKeptAndComesBackFromTheNamesFileInItsPlace)
{
    const NameRow& row = GetParam();
    Form7->StringGrid1->setCurrentCell(3, 1); // class 2
    Form7->Edit1->setText(row.typed);
    Form7->Button1->click();
    ASSERT_EQ(GridNames(), (QStringList{"0", QStringLiteral("круг"), row.typed}));
    EXPECT_EQ(SmImForm->ComboBox1->itemText(2), row.typed);

    const auto elements = Elements();
    dialogAnswer = folder.filePath(QStringLiteral("odd.llt"));
    Form1->N8Click();
    const QByteArray namesFile = Bytes(folder.filePath(QStringLiteral("odd.nam")));
    Form7->StringGrid1->SetRowCount(1);
    ClearSequence();
    Form1->N7->trigger();

    EXPECT_EQ(Boxes(), QStringList{});
    EXPECT_EQ(GridNames(), (QStringList{"0", QStringLiteral("круг"), row.back}));
    EXPECT_EQ(SmImForm->ComboBox1->count(), 3);
    EXPECT_EQ(SmImForm->ComboBox1->itemText(2), row.back);
    EXPECT_EQ(Elements(), elements);
    // Saved again, the names file is the same.
    dialogAnswer = folder.filePath(QStringLiteral("again.llt"));
    Form1->N8Click();
    EXPECT_EQ(Bytes(folder.filePath(QStringLiteral("again.nam"))), namesFile);
}

INSTANTIATE_TEST_SUITE_P(OddTexts, ClassNameText, ::testing::ValuesIn(NameRows()),
                         [](const ::testing::TestParamInfo<NameRow>& info) { return std::string(info.param.name); });

// ---- The retina view's class box -------------------------------------------

// Text typed into the class box that names no class selects none: the
// sample is filed under no class (-1), and nothing else changes.
class TypedClass : public ProjectInUse, public ::testing::WithParamInterface<BadText> {};

TEST_P(TypedClass, ThatNamesNoClassFilesTheSampleUnderNone)
{
    const QString text = QString::fromUtf8(GetParam().text);
    QComboBox* box = SmImForm->ComboBox1;
    box->setCurrentIndex(1);
    box->lineEdit()->selectAll();
    if (text.isEmpty())
        QTest::keyClick(box->lineEdit(), Qt::Key_Backspace);
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, box->lineEdit(), Qt::Key_unknown, QString(c), Qt::NoModifier);
    ASSERT_EQ(box->currentText(), text);
    EXPECT_EQ(box->currentIndex(), -1);
    EXPECT_EQ(SmImForm->Label1->Caption(), QStringLiteral("-1"));
    ASSERT_TRUE(SmImForm->Button2->isEnabled());

    const std::uint32_t count = TrainingSequence.Count;
    SmImForm->Button2->click();
    ASSERT_EQ(TrainingSequence.Count, count + 1);
    EXPECT_EQ(TrainingSequence.Current->ClassIndex, -1);
    std::vector<std::int8_t> sample(RetinaImage.Cells.begin(), RetinaImage.Cells.begin() + 16);
    sample.push_back(1);
    EXPECT_EQ(TrainingSequence.Current->Cells, sample);
    EXPECT_EQ(RingFault(TrainingSequence), "");
    EXPECT_EQ(Boxes(), QStringList{});
}

// The texts of the numeric fields, but for "0", which names class 0.
std::vector<BadText> TypedTexts()
{
    std::vector<BadText> texts;
    for (const BadText& text : BadTexts)
        if (std::string(text.text) != "0")
            texts.push_back(text);
    return texts;
}

INSTANTIATE_TEST_SUITE_P(OddTexts, TypedClass, ::testing::ValuesIn(TypedTexts()),
                         [](const ::testing::TestParamInfo<BadText>& info) { return std::string(info.param.name); });

} // namespace
} // namespace robustness
