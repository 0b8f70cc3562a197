// "Последовательность" / "Сохранить" and "Из файла": the sequence file with
// its class-names file beside it, through the menu handlers.

#include "LearningFixture.h"

namespace {

class SequenceMenu : public LearningUser {
protected:
    QString Path(const QString& name) const { return QDir(dir_.path()).filePath(name); }

    static QByteArray Read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static void Write(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    // Class index and cells of every element in file order (after the cursor).
    static std::vector<std::pair<std::int32_t, std::vector<std::int8_t>>> Contents(const PatternRing& ring)
    {
        std::vector<std::pair<std::int32_t, std::vector<std::int8_t>>> out;
        for (const TAbsImage& e : ring.FileOrder())
            out.emplace_back(e.ClassIndex, e.Cells);
        return out;
    }

    static void MakeSequence()
    {
        PatternRing ring;
        ring.SetDimension(4);
        const std::vector<std::vector<std::int8_t>> cells = {{1, 0, 0, 1}, {0, 1, 1, 0}, {1, 1, 1, 1}};
        for (std::size_t k = 0; k < cells.size(); ++k) {
            TAbsImage image(4);
            image.Cells = cells[k];
            ring.Add(image, static_cast<std::int32_t>(k % 2));
        }
        Project.ReplaceSequence(ring);
    }

    QTemporaryDir dir_;
};

// "круг", "квадрат" in Windows-1251.
const QByteArray Krug("\xEA\xF0\xF3\xE3");
const QByteArray Kvadrat("\xEA\xE2\xE0\xE4\xF0\xE0\xF2");

} // namespace

TEST_F(SequenceMenu, SavingWritesTheSequenceAndItsNamesSideBySide)
{
    MakeSequence();
    SetClassNames({QStringLiteral("круг"), QStringLiteral("квадрат")});
    const TAbsImage* cursor = TrainingSequence.CurrentElement();
    dialogAnswer = Path(QStringLiteral("фигуры.llt"));
    Form1->N8Click();

    ASSERT_NE(lastDialog, nullptr);
    EXPECT_EQ(lastDialog, &Form1->SaveDialog2);
    EXPECT_EQ(lastDialog->Filter, QStringLiteral("Обучающая последовательность|*.llt"));
    EXPECT_EQ(lastDialog->DefaultExt, QStringLiteral("llt"));
    EXPECT_EQ(Form1->SaveDialog2.FileName, Path(QStringLiteral("фигуры.llt")));
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(TrainingSequence.CurrentElement(), cursor);

    PatternRing saved;
    ASSERT_TRUE(saved.LoadFromFile(QFile::encodeName(Path(QStringLiteral("фигуры.llt"))).toStdString()));
    EXPECT_EQ(Contents(saved), Contents(TrainingSequence));
    EXPECT_EQ(saved.GetDimension(), 4u);
    EXPECT_EQ(Read(Path(QStringLiteral("фигуры.nam"))), Krug + "\r\n" + Kvadrat + "\r\n");

    // Cancel writes nothing.
    QFile::remove(Path(QStringLiteral("фигуры.nam")));
    dialogAnswer.reset();
    Form1->N8Click();
    EXPECT_FALSE(QFile::exists(Path(QStringLiteral("фигуры.nam"))));
}

TEST_F(SequenceMenu, LoadingFillsTheSequenceTheGridAndTheClassList)
{
    // D = 2, two records; the names file has two words on its first line.
    Write(Path("a.llt"), QByteArray("\x02\0\0\0\x02\0\0\0" "\x02\0\0\0" "\x01\x00"
                                    "\x00\0\0\0" "\x00\x01", 20));
    Write(Path("a.nam"), Krug + " " + Kvadrat + "\r\nx\r\n");
    NewProject(QStringLiteral("4"), QStringLiteral("1"), QStringLiteral("2"));
    EXPECT_EQ(SequenceCommands(), (std::vector<bool>(4, false)));

    dialogAnswer = Path("a.llt");
    Form1->N7Click();
    EXPECT_EQ(lastDialog, &Form1->OpenDialog2);
    EXPECT_EQ(lastDialog->Filter, QStringLiteral("Обучающая последовательность|*.llt"));
    EXPECT_EQ(lastDialog->DefaultExt, QStringLiteral("llt"));
    EXPECT_TRUE(Boxes().empty());

    ASSERT_EQ(TrainingSequence.GetCount(), 2u);
    EXPECT_EQ(TrainingSequence.GetDimension(), 2u);
    const auto contents = Contents(TrainingSequence);
    EXPECT_EQ(contents[0], (std::pair<std::int32_t, std::vector<std::int8_t>>{2, {1, 0, 1}}));
    EXPECT_EQ(contents[1], (std::pair<std::int32_t, std::vector<std::int8_t>>{0, {0, 1, 1}}));
    EXPECT_EQ(SequenceCommands(), (std::vector<bool>(4, true)));

    const QStringList names = {QStringLiteral("круг"), QStringLiteral("квадрат"), QStringLiteral("x")};
    EXPECT_EQ(GridNames(), names);
    for (int r = 1; r <= 3; ++r)
        EXPECT_EQ(Form7->StringGrid1->Cell(0, r), QString::number(r - 1));
    // Row 0 lost its header role but kept its texts.
    EXPECT_EQ(Form7->StringGrid1->FixedRows(), 0);
    EXPECT_EQ(Form7->StringGrid1->Cell(1, 0), QStringLiteral("Имя"));
    EXPECT_EQ(ClassList(), names);
}

TEST_F(SequenceMenu, SavedAndLoadedAgainGivesTheSameSequenceAndNames)
{
    MakeSequence();
    const auto before = Contents(TrainingSequence);
    // A blank inside a name and an empty name would not come back as they
    // were; they are stored so that every class keeps its place.
    SetClassNames({QStringLiteral("большой круг"), QString(), QStringLiteral("квадрат")});
    dialogAnswer = Path("round.llt");
    Form1->N8Click();
    const QByteArray file = Read(Path("round.llt"));

    ClearSequence();
    SetClassNames({});
    Form1->N7Click();
    EXPECT_EQ(Contents(TrainingSequence), before);
    EXPECT_EQ(GridNames(), (QStringList{QStringLiteral("большой_круг"), QStringLiteral("1"),
                                        QStringLiteral("квадрат")}));

    // Saving right after loading writes the same bytes.
    dialogAnswer = Path("again.llt");
    Form1->N8Click();
    EXPECT_EQ(Read(Path("again.llt")), file);
}

TEST_F(SequenceMenu, AFileThatDoesNotLoadIsReportedAndChangesNothing)
{
    MakeSequence();
    const auto before = Contents(TrainingSequence);
    const TAbsImage* cursor = TrainingSequence.CurrentElement();
    SetClassNames({QStringLiteral("круг"), QStringLiteral("квадрат")});
    // Good sequences beside names files no project could have.
    dialogAnswer = Path("good.llt");
    Form1->N8Click();
    for (const char* name : {"huge", "many"})
        ASSERT_TRUE(QFile::copy(Path("good.llt"), Path(QString::fromLatin1(name) + ".llt")));
    Write(Path("huge.nam"), QByteArray(5 << 20, 'x'));
    Write(Path("many.nam"), QByteArray("x ").repeated(10001));
    Write(Path("short.llt"), QByteArray("\x04\0\0\0\x05\0\0\0\x01\0\0\0\x01\x01", 14));
    Write(Path("short.nam"), QByteArray("other\r\n"));
    Write(Path("stub.llt"), QByteArray("\x04\0\0", 3));
    ASSERT_TRUE(QDir().mkpath(Path("folder.llt")));

    struct Case {
        QString file;
        QString reason;
    };
    const Case cases[] = {
        {Path("missing.llt"), QStringLiteral("не найден")},
        {Path("short.llt"), QStringLiteral("обрывается")},
        {Path("stub.llt"), QStringLiteral("короткий")},
        {Path("huge.llt"), QStringLiteral("больше 4 МиБ")},
        {Path("many.llt"), QStringLiteral("больше имён")},
        {Path("folder.llt"), QStringLiteral("это не обычный файл")},
    };
    for (const Case& c : cases) {
        log.clear();
        dialogAnswer = c.file;
        Form1->N7Click();
        const auto texts = Boxes();
        ASSERT_EQ(texts.size(), 1) << c.file.toStdString();
        EXPECT_TRUE(texts[0].contains(c.file)) << texts[0].toStdString();
        EXPECT_TRUE(texts[0].contains(c.reason)) << texts[0].toStdString();
        EXPECT_EQ(Contents(TrainingSequence), before);
        EXPECT_EQ(TrainingSequence.CurrentElement(), cursor);
        EXPECT_EQ(TrainingSequence.GetDimension(), 4u);
        // The names stay with the sequence they belong to.
        EXPECT_EQ(GridNames(), (QStringList{QStringLiteral("круг"), QStringLiteral("квадрат")}));
        // The commands are enabled whatever the outcome.
        EXPECT_EQ(SequenceCommands(), (std::vector<bool>(4, true)));
        Form1->EnableSequenceCommands(false);
    }
}

TEST_F(SequenceMenu, ANamesFileInUtf8LoadsAsUtf8)
{
    MakeSequence();
    dialogAnswer = Path("utf.llt");
    Form1->N8Click();
    Write(Path("utf.nam"), QStringLiteral("\uFEFFкруг\nквадрат\n").toUtf8());
    Form1->N7Click();
    EXPECT_EQ(GridNames(), (QStringList{QStringLiteral("круг"), QStringLiteral("квадрат")}));
    EXPECT_EQ(ClassList(), GridNames());
}

TEST_F(SequenceMenu, AMissingNamesFileLeavesTheClassesUnnamed)
{
    MakeSequence();
    dialogAnswer = Path("alone.llt");
    Form1->N8Click();
    QFile::remove(Path("alone.nam"));
    const auto saved = Contents(TrainingSequence);

    ClearSequence();
    SetClassNames({QStringLiteral("круг")});
    SmImForm->ComboBox1->addItem(QStringLiteral("круг"));
    log.clear();
    Form1->N7Click();
    EXPECT_EQ(Contents(TrainingSequence), saved);
    EXPECT_EQ(Form7->StringGrid1->RowCount(), 1);
    EXPECT_TRUE(ClassList().isEmpty());
    const auto texts = Boxes();
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts[0].contains(Path("alone.nam"))) << texts[0].toStdString();
}

TEST_F(SequenceMenu, FilesThatCannotBeWrittenAreReported)
{
    MakeSequence();
    SetClassNames({QStringLiteral("круг")});
    dialogAnswer = Path("no/such/folder/a.llt");
    Form1->N8Click();
    // The pair is written together: one message, naming the file that failed.
    const auto texts = Boxes();
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts[0].contains(Path("no/such/folder/a.llt"))) << texts[0].toStdString();
    EXPECT_EQ(TrainingSequence.GetCount(), 3u);
}

TEST_F(SequenceMenu, AnEmptySequenceSavesAsItsHeader)
{
    PatternRing empty;
    empty.SetDimension(9);
    Project.ReplaceSequence(empty);
    SetClassNames({});
    dialogAnswer = Path("empty.llt");
    Form1->N8Click();
    EXPECT_EQ(Read(Path("empty.llt")), QByteArray("\x09\0\0\0\0\0\0\0", 8));
    EXPECT_EQ(Read(Path("empty.nam")), QByteArray());
    EXPECT_TRUE(Boxes().empty());
}
