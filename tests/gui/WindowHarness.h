#pragma once

// A main window over a real service runtime: settings in memory, the home
// folder (connection-string files, SQLite HIS files, order files) in a
// temporary folder, the listener on a free loopback port, and findscu as the
// modality.

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <ostream>

#include "app/MainWindow.h"
#include "app/ServerRuntime.h"
#include "e2e/DicomPeer.h"
#include "unit/Fakes.h"

// Failure messages show texts as texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// A loopback port nobody uses right now.
int FreePort();

// Runs findscu against the port while the event loop keeps running, so the
// service of this very process can answer.
FindOutcome QueryWhileServing(int port, const QStringList& keys = WorklistKeys());

// The texts of the message boxes that are open.
QStringList OpenMessageTexts();
// The message box open over the window with this text; null when none is.
QMessageBox* OpenMessageBox(const QWidget& window, const QString& text);
// Clicks Yes or No in the window's "Stop the worklist service?"; false when
// the question is not open.
bool AnswerStopQuestion(const QWidget& window, bool yes);
// "<date> <time> Association N from 127.0.0.1: calling AE ..."
bool IsAssociationStart(const QString& line);

class WindowTest : public ::testing::Test {
protected:
    WindowTest();
    ~WindowTest() override;

    // Makes the option the only mode flag stored "True".
    void StoreMode(const QString& optionKey);
    void StoreMain(const QString& key, const QString& value);
    // Writes the connection-string file naming a SQLite database in the home folder.
    void WriteConnectionFile(const QString& fileName, const QString& databaseName);
    QString HomePath(const QString& name) const { return home.filePath(name); }

    // Creates the runtime and the window, shows the window and loads it.
    void Open();
    // The service and the window end as the program ends them.
    void Close();

    template <typename Control>
    Control* Find(const char* name) const {
        auto* control = window->findChild<Control*>(QLatin1String(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    QString LogText() const { return runtime->Log().Text(); }

    QTemporaryDir home;
    FakeSettings store;
    int port = FreePort();
    // The file the program update replaces.
    ProgramFile program = ProgramFile::Running();
    std::unique_ptr<ServerRuntime> runtime;
    std::unique_ptr<MainWindow> window;
};
