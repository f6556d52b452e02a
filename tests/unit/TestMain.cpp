#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

// Qt Sql and QObject-based services need an application object; the settings
// store is pointed at a private folder so no test touches the user's settings.
int main(int argc, char** argv) {
    QTemporaryDir config;
    if (config.isValid()) qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
