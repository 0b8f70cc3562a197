#include "FormsFixture.h"

namespace {

using StartUp = Started;

TEST_F(StartUp, OnlyTheMainWindowIsVisible)
{
    EXPECT_EQ(Visible(), QStringList{"Form1"});
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(StartUp, ClosingTheMainWindowEndsTheProgram)
{
    ImForm->Show();
    QTimer::singleShot(0, Form1, [] { Form1->close(); });
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

TEST_F(StartUp, EveryMenuFitsInTheMainWindowsStrip)
{
    // None is pushed into an overflow button.
    const QRect last = Form1->MainMenu1->actionGeometry(Form1->N28);
    EXPECT_FALSE(last.isEmpty());
    EXPECT_LE(last.right(), Form1->width());
}

TEST(HelpDocument, LiesBesideTheProgramInUtf8)
{
    // What it says is the samples test's.
    QFile help(QStringLiteral(TRELIS_INSTALLED_HELP));
    ASSERT_TRUE(help.open(QIODevice::ReadOnly)) << TRELIS_INSTALLED_HELP;
    EXPECT_TRUE(help.readAll().contains("charset=\"utf-8\""));
}

} // namespace
