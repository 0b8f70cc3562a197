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
