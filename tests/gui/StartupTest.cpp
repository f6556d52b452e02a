// The start-up window and the hand-over to the main window.

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "app/DesktopProgram.h"
#include "app/SplashWindow.h"
#include "gui/WindowHarness.h"

namespace {

QTimer* Timer(const QWidget& window, const char* name) {
    auto* timer = window.findChild<QTimer*>(QLatin1String(name));
    EXPECT_NE(timer, nullptr) << name;
    return timer;
}

// A timer's tick, as the event loop would deliver it.
void Tick(QTimer* timer) { QMetaObject::invokeMethod(timer, "timeout"); }

QString Text(const QWidget& window, const char* name) {
    if (auto* label = window.findChild<QLabel*>(QLatin1String(name))) return label->text();
    if (auto* button = window.findChild<QPushButton*>(QLatin1String(name))) return button->text();
    ADD_FAILURE() << "no control " << name;
    return QString();
}

TEST(SplashWindow, CountsDownEachSecondAndGoesOnPastZeroWithoutEffect) {
    SplashWindow splash;
    QSignalSpy started(&splash, &SplashWindow::Started);
    EXPECT_EQ(splash.objectName(), "frmSplash");
    EXPECT_EQ(splash.windowTitle(), "Auto-Delay");
    EXPECT_EQ(Text(splash, "Label1"),
              "Auto-delay to wait for Network and Server to be ready.  Click Start.");
    EXPECT_EQ(Text(splash, "cmdSTART"), "Start");
    EXPECT_EQ(Text(splash, "lblTime"), "60");
    QTimer* timer1 = Timer(splash, "Timer1");
    QTimer* timer2 = Timer(splash, "Timer2");
    EXPECT_TRUE(timer1->isActive());
    EXPECT_EQ(timer1->interval(), 60000);
    EXPECT_TRUE(timer2->isActive());
    EXPECT_EQ(timer2->interval(), 1000);

    for (int i = 0; i < 10; ++i) Tick(timer2);
    EXPECT_EQ(Text(splash, "lblTime"), "50");
    for (int i = 0; i < 51; ++i) Tick(timer2);
    EXPECT_EQ(Text(splash, "lblTime"), "-1");
    EXPECT_EQ(started.count(), 0);
}

TEST(SplashWindow, DelayOptionSetsTheWaitAndTheCountdown) {
    SplashWindow splash(5);
    EXPECT_EQ(Timer(splash, "Timer1")->interval(), 5000);
    EXPECT_EQ(Text(splash, "lblTime"), "5");
    SplashWindow huge(std::numeric_limits<int>::max());
    EXPECT_GT(Timer(huge, "Timer1")->interval(), 0);
}

class DesktopStartTest : public WindowTest {
protected:
    DesktopStartTest() { StoreMode("optBramwoods"); }
};

TEST_F(DesktopStartTest, StartShowsTheMainWindowAtOnceAndStartsOnlyOnce) {
    DesktopProgram program(store, home.path(), 60);
    SplashWindow& splash = program.Splash();
    splash.show();
    splash.findChild<QPushButton*>("cmdSTART")->click();

    MainWindow& main = program.Window();
    EXPECT_TRUE(main.isVisible());
    EXPECT_FALSE(splash.isVisible());
    EXPECT_FALSE(Timer(splash, "Timer1")->isActive());
    EXPECT_FALSE(Timer(splash, "Timer2")->isActive());
    EXPECT_TRUE(program.Runtime().Listening());
    EXPECT_EQ(program.Runtime().Log().Text(), "started...");
    const QString version = QStringLiteral(" v.%1.%2.%3")
                                .arg(MWL_VERSION_MAJOR)
                                .arg(MWL_VERSION_MINOR)
                                .arg(MWL_VERSION_PATCH);
    EXPECT_EQ(main.windowTitle(), "TALVEK PACS Modality Worklist Server" + version);

    // A late Timer1 tick or a second click starts nothing: the log and the
    // title stay as the one load left them.
    program.Runtime().Log().Log("serving");
    Tick(Timer(splash, "Timer1"));
    splash.findChild<QPushButton*>("cmdSTART")->click();
    EXPECT_TRUE(program.Runtime().Log().Text().startsWith("started...\r\n"));
    EXPECT_TRUE(program.Runtime().Log().Text().endsWith(" serving"));
    EXPECT_EQ(main.windowTitle().count(" v."), 1);
}

TEST_F(DesktopStartTest, Timer1StartsTheServiceByItself) {
    DesktopProgram program(store, home.path(), 0);
    program.Splash().show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return program.Runtime().Listening(); }, 10000));
    EXPECT_TRUE(program.Window().isVisible());
    EXPECT_FALSE(program.Splash().isVisible());
}

}  // namespace
