// Odd texts through the windows: any text is a class name that comes back
// from the names file in its place, and text typed into the retina view's
// class box that names no class files the sample under none.

#include "RobustnessFixture.h"

#include <ostream>

namespace robustness {
namespace {

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
struct TypedText {
    const char* name; // for the test's name
    const char* text; // UTF-8
};

const TypedText TypedTexts[] = {
    {"Empty", ""},
    {"Letters", "abc"},
    {"Minus", "-"},
    {"LeadingBlank", " 1"},
    {"FullwidthDigit", "\xEF\xBC\x97"},
    {"JustAboveInt32", "2147483648"},
    {"Negative", "-5"},
    {"LargestInt32", "2147483647"},
};

void PrintTo(const TypedText& typed, std::ostream* out)
{
    *out << "'" << typed.text << "'";
}

class TypedClass : public ProjectInUse, public ::testing::WithParamInterface<TypedText> {};

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

INSTANTIATE_TEST_SUITE_P(OddTexts, TypedClass, ::testing::ValuesIn(TypedTexts),
                         [](const ::testing::TestParamInfo<TypedText>& info) { return std::string(info.param.name); });

} // namespace
} // namespace robustness
