#include "framework/Application.h"
#include "framework/Convert.h"
#include "framework/Dialogs.h"
#include "framework/Form.h"
#include "framework/Seams.h"
#include "framework/Shell.h"
#include "images/Images.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace {

using Box = std::pair<QString, QString>; // caption, text

// Records the message boxes the user would see.
struct BoxRecorder {
    BoxRecorder()
    {
        Seams::messageBox = [this](const QString& caption, const QString& text) {
            boxes.emplace_back(caption, text);
        };
    }
    std::vector<Box> boxes;
};

// A shown window with one button whose click runs the given handler.
struct ButtonWindow {
    template <class F>
    explicit ButtonWindow(F handler)
    {
        window.resize(200, 100);
        button = new QPushButton(QStringLiteral("OK"), &window);
        button->setGeometry(10, 10, 80, 25);
        Handle(button, &QPushButton::clicked, &window, std::move(handler));
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    void Click() { QTest::mouseClick(button, Qt::LeftButton); }
    QWidget window;
    QPushButton* button = nullptr;
};

// A form with handlers that count their calls.
class CountingForm : public TForm {
public:
    CountingForm() : TForm(QStringLiteral("Проба")) { SetBounds(100, 100, 120, 40); }
    int shows = 0, closes = 0;

protected:
    void OnShow() override { ++shows; }
    void OnClose() override { ++closes; }
};

TEST(ExceptionDisplay, RangeErrorInAHandlerShowsTwoBoxesAndTheProgramGoesOn)
{
    BoxRecorder recorder;
    bool finished = false;
    int clicks = 0;
    ButtonWindow w([&] {
        ++clicks;
        TRectImage image;
        image.Resize(3, 3);
        image.GetCell(3, 0); // outside the grid
        finished = true;
    });
    w.Click();
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(finished);
    const std::vector<Box> expected{
        {TApplication::ProgramFileName(), QStringLiteral("exp: OVERFLOW error")},
        {QStringLiteral("Trelis"), QStringLiteral("Invalid floating point operation")},
    };
    EXPECT_EQ(recorder.boxes, expected);
    EXPECT_EQ(TApplication::ProgramFileName(), QStringLiteral("framework_tests"));

    // The window still works: the next click runs the handler again.
    recorder.boxes.clear();
    w.Click();
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(recorder.boxes.size(), 2u);
    EXPECT_TRUE(w.window.isVisible());
}

TEST(ExceptionDisplay, ConversionAndOtherErrorsShowTheirOwnTextUnderTheProgramsName)
{
    for (const auto& [handler, text] : std::vector<std::pair<std::function<void()>, QString>>{
             {[] { StrToInt(QStringLiteral("12x")); }, QStringLiteral("'12x' is not a valid integer value")},
             {[] { throw std::runtime_error("disk full"); }, QStringLiteral("disk full")}}) {
        BoxRecorder recorder;
        ButtonWindow w(handler);
        w.Click();
        EXPECT_EQ(recorder.boxes, (std::vector<Box>{{TApplication::Title(), text}}));
    }
}

TEST(ExceptionDisplay, ShownAfterTheEventThatRaisedIt)
{
    // The box comes when the click has been handled completely, so the
    // toolkit is not left half-way through the button's release.
    BoxRecorder recorder;
    bool releasedWhenShown = false;
    ButtonWindow w([] { throw std::runtime_error("late"); });
    Seams::messageBox = [&](const QString&, const QString&) { releasedWhenShown = !w.button->isDown(); };
    w.Click();
    EXPECT_TRUE(releasedWhenShown);
}

TEST(ExceptionDisplay, OutsideEventDeliveryShownAtOnce)
{
    BoxRecorder recorder;
    RunHandler([] { throw ERangeError(); });
    EXPECT_EQ(recorder.boxes.size(), 2u);
    RunHandler([] { throw 42; });
    ASSERT_EQ(recorder.boxes.size(), 3u);
    EXPECT_FALSE(recorder.boxes[2].second.isEmpty());
}

TEST(ExceptionDisplay, TimerHandlerErrorsAreShownAndTheTimerKeepsRunning)
{
    BoxRecorder recorder;
    QTimer timer;
    timer.setInterval(1);
    int ticks = 0;
    Handle(&timer, &QTimer::timeout, &timer, [&] {
        ++ticks;
        throw EConvertError(QStringLiteral("tick"));
    });
    timer.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }));
    timer.stop();
    EXPECT_EQ(recorder.boxes.size(), static_cast<std::size_t>(ticks));
}

TEST(ModalShowing, SeamPlaysTheUserWhileTheFormIsModal)
{
    CountingForm form;
    bool visibleInside = false;
    Qt::WindowModality modalityInside = Qt::NonModal;
    int showsInside = -1;
    Seams::modal = [&](TForm& shown) {
        EXPECT_EQ(&shown, &form);
        visibleInside = shown.isVisible();
        modalityInside = shown.windowModality();
        showsInside = form.shows;
    };
    form.ShowModal();
    EXPECT_TRUE(visibleInside);
    EXPECT_EQ(modalityInside, Qt::ApplicationModal);
    EXPECT_EQ(showsInside, 1);
    // The user's part is over: the form was closed like with its close box.
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.closes, 1);
    EXPECT_EQ(form.windowModality(), Qt::NonModal);
}

TEST(ModalShowing, FormClosedByTheUserIsNotClosedTwice)
{
    CountingForm form;
    Seams::modal = [](TForm& shown) { shown.close(); };
    form.ShowModal();
    EXPECT_EQ(form.closes, 1);
    EXPECT_FALSE(form.isVisible());
}

TEST(ModalShowing, RealModalLoopReturnsWhenTheFormCloses)
{
    CountingForm form;
    bool modalWhileRunning = false;
    QTimer::singleShot(0, &form, [&] {
        modalWhileRunning = form.isVisible() && form.isModal() && QApplication::activeModalWidget() == &form;
        form.close();
    });
    form.ShowModal();
    EXPECT_TRUE(modalWhileRunning);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.closes, 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(ModalShowing, ModalFormHiddenByTheProgramAlsoEndsTheLoop)
{
    CountingForm form;
    QTimer::singleShot(0, &form, [&] { form.hide(); });
    form.ShowModal();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.closes, 0);
}

TEST(Forms, RegisteredInOrderOfCreationAndTheFirstIsTheMainForm)
{
    ASSERT_TRUE(TForm::Forms().empty());
    auto first = std::make_unique<CountingForm>();
    auto second = std::make_unique<CountingForm>();
    EXPECT_EQ(TForm::Forms(), (std::vector<TForm*>{first.get(), second.get()}));
    EXPECT_EQ(TForm::MainForm(), first.get());
    second.reset();
    EXPECT_EQ(TForm::Forms(), (std::vector<TForm*>{first.get()}));
    first.reset();
    EXPECT_EQ(TForm::MainForm(), nullptr);
    EXPECT_TRUE(TForm::Forms().empty());
}

TEST(Forms, ClosingTheMainFormEndsTheMessageLoop)
{
    CountingForm main;
    CountingForm other;
    main.Show();
    other.Show();
    QTimer::singleShot(0, &other, [&] { other.close(); });
    QTimer::singleShot(10, &main, [&] { main.close(); });
    // Should closing the main form not end the loop, this ends it with 1.
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_EQ(main.closes, 1);
    EXPECT_EQ(other.closes, 1);
}

TEST(Forms, BoundsGiveTheFrameCornerAndAFixedClientSize)
{
    CountingForm form;
    form.SetBounds(-1, -1, 467, 2);
    EXPECT_EQ(form.size(), QSize(467, 2));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.pos(), QPoint(-1, -1));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Проба"));
    EXPECT_TRUE(form.windowFlags() & Qt::Tool);
}

TEST(FileDialog, AnswerTakesTheDefaultExtensionAndIsRemembered)
{
    TSaveDialog dialog(QString::fromUtf8("Обучающая последовательность|*.llt"), QStringLiteral("llt"));
    std::vector<QString> offered;
    Seams::fileDialog = [&](const TFileDialog& d) -> std::optional<QString> {
        EXPECT_EQ(d.DialogKind(), TFileDialog::Kind::Save);
        EXPECT_EQ(d.Filter, QString::fromUtf8("Обучающая последовательность|*.llt"));
        EXPECT_EQ(d.DefaultExt, QStringLiteral("llt"));
        offered.push_back(d.FileName);
        return QStringLiteral("/tmp/a");
    };
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, QStringLiteral("/tmp/a.llt"));
    Seams::fileDialog = [&](const TFileDialog& d) -> std::optional<QString> {
        offered.push_back(d.FileName);
        return QStringLiteral("/tmp/b.data.nam");
    };
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, QStringLiteral("/tmp/b.data.nam"));
    EXPECT_EQ(offered, (std::vector<QString>{QString(), QStringLiteral("/tmp/a.llt")}));
}

TEST(FileDialog, CancelKeepsTheRememberedName)
{
    TOpenDialog dialog;
    dialog.FileName = QStringLiteral("/data/x.ser");
    int asked = 0;
    Seams::fileDialog = [&](const TFileDialog& d) -> std::optional<QString> {
        ++asked;
        EXPECT_EQ(d.DialogKind(), TFileDialog::Kind::Open);
        return std::nullopt;
    };
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(dialog.FileName, QStringLiteral("/data/x.ser"));
    // Without a default extension the name is taken as chosen.
    Seams::fileDialog = [](const TFileDialog&) -> std::optional<QString> { return QStringLiteral("/data/y"); };
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, QStringLiteral("/data/y"));
}

TEST(FileDialog, FilterInTheToolkitsNotation)
{
    // The patterns appear once, also where the description already ends
    // with them; brackets that hold something else are no patterns.
    EXPECT_EQ(ToolkitFilter(QString::fromUtf8("Временной ряд(*.ser)|*.ser")), QString::fromUtf8("Временной ряд(*.ser)"));
    EXPECT_EQ(ToolkitFilter(QStringLiteral("Pictures|*.png;*.bmp|All (*.*)|*.*|Set (*.a;*.b)|*.a;*.b")),
              QStringLiteral("Pictures (*.png *.bmp);;All (*.*);;Set (*.a;*.b)"));
    EXPECT_EQ(ToolkitFilter(QStringLiteral("Old (*.ser)|*.llt")), QStringLiteral("Old (*.ser) (*.llt)"));
    EXPECT_EQ(ToolkitFilter(QString()), QString());
    EXPECT_EQ(WithDefaultExtension(QStringLiteral("/a.b/c"), QStringLiteral("llt")), QStringLiteral("/a.b/c.llt"));
    EXPECT_EQ(WithDefaultExtension(QStringLiteral("c.LLT"), QStringLiteral("llt")), QStringLiteral("c.LLT"));
}

TEST(Shell, StartOpensDocumentsBesideTheProgramAndAddressesAsTheyAre)
{
    const QString besideProgram = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("index.html"));
    EXPECT_EQ(ShellTarget(QStringLiteral("start index.html")), QUrl::fromLocalFile(besideProgram));
    EXPECT_EQ(ShellTarget(QStringLiteral("start https://example.org/trelis/")),
              QUrl(QStringLiteral("https://example.org/trelis/")));
    EXPECT_EQ(ShellTarget(QStringLiteral("start /usr/share/doc/x.html")),
              QUrl::fromLocalFile(QStringLiteral("/usr/share/doc/x.html")));
    // Only "start " lines are handed on.
    EXPECT_FALSE(ShellTarget(QStringLiteral("rm -rf /")).isValid());
    EXPECT_FALSE(ShellTarget(QStringLiteral("start ")).isValid());
    EXPECT_FALSE(ShellTarget(QStringLiteral("startindex.html")).isValid());
}

TEST(Shell, DocumentsAreLookedUpBesideTheProgramThenInTheDataFolder)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QDir dir(root.path());
    ASSERT_TRUE(dir.mkpath(QStringLiteral("bin")) && dir.mkpath(QStringLiteral("share/trelis")));
    const QString bin = dir.filePath(QStringLiteral("bin"));
    const QString data = dir.filePath(QStringLiteral("bin/../share/trelis"));
    const auto touch = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly);
    };

    // Nowhere: the name beside the program, where a user would put it.
    EXPECT_EQ(FindDocument(QStringLiteral("index.html"), {bin, data}), dir.filePath(QStringLiteral("bin/index.html")));
    // Installed: only the data folder holds it.
    ASSERT_TRUE(touch(dir.filePath(QStringLiteral("share/trelis/index.html"))));
    EXPECT_EQ(FindDocument(QStringLiteral("index.html"), {bin, data}),
              dir.filePath(QStringLiteral("share/trelis/index.html")));
    // A copy beside the program wins.
    ASSERT_TRUE(touch(dir.filePath(QStringLiteral("bin/index.html"))));
    EXPECT_EQ(FindDocument(QStringLiteral("index.html"), {bin, data}), dir.filePath(QStringLiteral("bin/index.html")));
    // A folder of that name is not a document.
    ASSERT_TRUE(dir.mkpath(QStringLiteral("bin/help")) && touch(dir.filePath(QStringLiteral("share/trelis/help"))));
    EXPECT_EQ(FindDocument(QStringLiteral("help"), {bin, data}), dir.filePath(QStringLiteral("share/trelis/help")));
}

} // namespace

TEST(Application, TheToolkitsOwnDialogsSpeakRussianAndBoxesBearTheProgramsName)
{
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Save As"), QStringLiteral("Сохранить как"));
    EXPECT_EQ(TApplication::Title(), QStringLiteral("Trelis"));
}
