#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

// The windows need a widget application (offscreen in the test run); the
// settings store is pointed at a private folder so no test touches the
// user's settings.
int main(int argc, char** argv) {
    QTemporaryDir config;
    if (config.isValid()) qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
