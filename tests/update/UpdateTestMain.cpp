#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

// The update's window view needs a widget application; it runs offscreen.
// The settings store is pointed at a private folder so no test touches the
// user's settings.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    if (config.isValid()) qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
