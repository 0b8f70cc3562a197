#include "FormsFixture.h"

#include "forms/Globals.h"
#include "forms/Unit1.h"
#include "forms/Unit10.h"
#include "forms/Unit11.h"
#include "forms/Unit12.h"
#include "forms/Unit13.h"
#include "forms/Unit2.h"
#include "forms/Unit3.h"
#include "forms/Unit4.h"
#include "forms/Unit5.h"
#include "forms/Unit6.h"
#include "forms/Unit7.h"
#include "forms/Unit8.h"
#include "forms/Unit9.h"
#include "framework/Shell.h"
#include "project/Globals.h"

#include <QCoreApplication>
#include <QFile>
#include <QMenuBar>
#include <QTimer>

#include <vector>

namespace {

using StartUp = Started;

TEST_F(StartUp, CreatesTheThirteenWindowsInTheirOrderEachInItsGlobal)
{
    const std::vector<TForm*> globals{Form1,     ImForm,   SmImForm, Form5,   Form6,    Form7,
                                      LearnForm, HintForm, AnsForm,  Form10,  SerLForm, Form12,
                                      ProgressForm};
    EXPECT_EQ(TForm::Forms(), globals);
    QStringList classes;
    for (TForm* form : TForm::Forms())
        classes << QString::fromLatin1(form->metaObject()->className());
    EXPECT_EQ(classes, (QStringList{"TForm1", "TImForm", "TSmImForm", "TForm5", "TForm6", "TForm7",
                                    "TLearnForm", "THintForm", "TAnsForm", "TForm10", "TSerLForm",
                                    "TForm12", "TProgressForm"}));
    EXPECT_EQ(TForm::MainForm(), Form1);
}

TEST_F(StartUp, OnlyTheMainWindowIsVisible)
{
    EXPECT_EQ(Visible(), QStringList{"Form1"});
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(StartUp, MainWindowBuildsThePlaceholderNetworkAndTheSeriesBuffer)
{
    ASSERT_NE(CurrentNet, nullptr);
    EXPECT_EQ(CurrentNet->layerCount, 1u);
    ASSERT_EQ(CurrentNet->layers.size(), 1u);
    EXPECT_EQ(CurrentNet->layers[0].inputCount, 1u);
    EXPECT_EQ(CurrentNet->layers[0].neuronCount, 1u);
    EXPECT_EQ(CurrentNet->outputCount, 1u);
    EXPECT_EQ(CurrentNet->inputOffset, 0.0f);
    EXPECT_EQ(CurrentNet->targetOffset, 1.0f);
    EXPECT_EQ(CurrentNet->inputScale, 0.0f);
    EXPECT_EQ(CurrentNet->targetScale, 1.0f);
    // Initial range 0.68: weights from -0.34 up to 0.339.
    for (std::size_t row = 0; row < 2; ++row) {
        const float w = CurrentNet->layers[0].weights[row][0];
        EXPECT_GE(w, -0.3401f);
        EXPECT_LE(w, 0.3391f);
    }
    EXPECT_EQ(SeriesBuffer.count, 0);
    EXPECT_NE(SeriesBuffer.values, nullptr);
}

TEST_F(StartUp, CanvasAndRetinaImagesHaveTheCanvasSize)
{
    EXPECT_EQ(CanvasImage.GetWidth(), 500u);
    EXPECT_EQ(CanvasImage.GetHeight(), 400u);
    EXPECT_EQ(RetinaImage.GetWidth(), 500u);
    EXPECT_EQ(RetinaImage.GetHeight(), 400u);
    EXPECT_EQ(CanvasImage.GetSize(), 200000u);
}

TEST_F(StartUp, StartsAgainAfterTheWindowsAreDestroyed)
{
    DestroyForms();
    EXPECT_EQ(Form1, nullptr);
    EXPECT_TRUE(TForm::Forms().empty());
    CreateForms();
    ASSERT_NE(CurrentNet, nullptr);
    EXPECT_EQ(CurrentNet->layerCount, 1u);
    EXPECT_EQ(TForm::Forms().size(), 13u);
    EXPECT_EQ(TForm::MainForm(), Form1);
}

TEST_F(StartUp, ClosingTheMainWindowEndsTheProgram)
{
    ImForm->Show();
    QTimer::singleShot(0, Form1, [] { Form1->close(); });
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

// Caption, border, position and client size of every window.
struct Layout {
    TForm* (*form)();
    const char* caption;
    bool frameless;
    int left, top; // -2: left to the window manager
    int width, height;
};

TEST_F(StartUp, WindowsHaveTheirCaptionsBordersPositionsAndClientSizes)
{
    const Layout layouts[] = {
        {[]() -> TForm* { return ImForm; }, "Холст", false, 0, 106, 502, 436},
        {[]() -> TForm* { return SmImForm; }, "Вид на сетчатке", false, 641, 201, 152, 213},
        {[]() -> TForm* { return Form5; }, "Сведения о проекте", false, -2, -2, 257, 123},
        {[]() -> TForm* { return Form6; }, "Быстро создать", false, -2, -2, 185, 97},
        {[]() -> TForm* { return Form7; }, "Имена классов", false, 641, 0, 152, 175},
        {[]() -> TForm* { return LearnForm; }, "Обратное распространение", false, -2, -2, 250, 89},
        {[]() -> TForm* { return HintForm; }, "", true, 688, 470, 104, 74},
        {[]() -> TForm* { return AnsForm; }, "То, что получилось", false, 1, 142, 500, 400},
        {[]() -> TForm* { return Form10; }, "Инициализация", false, -2, -2, 149, 60},
        {[]() -> TForm* { return SerLForm; }, "Запоминаем временной ряд", false, -2, -2, 500, 288},
        {[]() -> TForm* { return Form12; }, "О программе", false, 326, 225, 161, 47},
    };
    for (const Layout& l : layouts) {
        TForm* form = l.form();
        SCOPED_TRACE(l.caption);
        EXPECT_EQ(form->windowTitle(), QString::fromUtf8(l.caption));
        EXPECT_EQ(form->size(), QSize(l.width, l.height));
        EXPECT_EQ(form->minimumSize(), form->maximumSize()); // not resizable
        EXPECT_TRUE(form->windowFlags() & Qt::Tool);
        EXPECT_EQ(bool(form->windowFlags() & Qt::FramelessWindowHint), l.frameless);
        if (l.left != -2) {
            EXPECT_EQ(form->pos(), QPoint(l.left, l.top));
        }
    }
}

TEST_F(StartUp, MainWindowIsAStripShowingOnlyItsMenuBar)
{
    EXPECT_EQ(Form1->windowTitle(), QStringLiteral("Trelis"));
    EXPECT_EQ(Form1->pos(), QPoint(-1, -1));
    EXPECT_EQ(Form1->width(), 467);
    EXPECT_EQ(Form1->height(), Form1->MainMenu1->height() + 2);
    EXPECT_TRUE(Form1->windowFlags() & Qt::Tool);
    // Every top-level menu fits in the strip, none is pushed into an overflow button.
    const QRect last = Form1->MainMenu1->actionGeometry(Form1->N28);
    EXPECT_FALSE(last.isEmpty());
    EXPECT_LE(last.right(), Form1->width());
}

TEST(HelpDocument, LiesBesideTheProgramAndCoversBothWorkflows)
{
    QFile help(QStringLiteral(TRELIS_INSTALLED_HELP));
    ASSERT_TRUE(help.open(QIODevice::ReadOnly)) << TRELIS_INSTALLED_HELP;
    const QString text = QString::fromUtf8(help.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("Распознавание")));
    EXPECT_TRUE(text.contains(QStringLiteral("Временной ряд")));
    EXPECT_TRUE(text.contains(QStringLiteral("charset=\"utf-8\"")) || text.contains(QStringLiteral("charset=utf-8")));
}

} // namespace
