#include "gui/WindowHarness.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

int FreePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    return probe.serverPort();
}

FindOutcome QueryWhileServing(int port, const QStringList& keys) {
    FindScu scu(port, keys);
    scu.Start();
    // Finish() reports a findscu that has not ended by then.
    static_cast<void>(QTest::qWaitFor([&] { return !scu.Running(); }, 30000));
    return scu.Finish();
}

QStringList OpenMessageTexts() {
    QStringList texts;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            texts << box->text();
    return texts;
}

QMessageBox* OpenMessageBox(const QWidget& window, const QString& text) {
    for (QMessageBox* box : window.findChildren<QMessageBox*>())
        if (box->isVisible() && box->text() == text) return box;
    return nullptr;
}

bool AnswerStopQuestion(const QWidget& window, bool yes) {
    QMessageBox* question = OpenMessageBox(window, MainWindow::StopQuestion());
    if (!question) return false;
    question->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
    return true;
}

bool IsAssociationStart(const QString& line) {
    static const QRegularExpression start(
        QStringLiteral("^.+ \\d\\d:\\d\\d:\\d\\d Association \\d+ from 127\\.0\\.0\\.1: calling AE "));
    return start.match(line).hasMatch();
}

WindowTest::WindowTest() { StoreMain(QStringLiteral("WorklistPort"), QString::number(port)); }

WindowTest::~WindowTest() { Close(); }

void WindowTest::StoreMode(const QString& optionKey) {
    for (const char* key : {"optTALVEK", "optPELTA", "optCorvante", "optBramwoods", "optOrvelline"})
        StoreMain(QLatin1String(key), QLatin1String(key) == optionKey ? "True" : "False");
}

void WindowTest::StoreMain(const QString& key, const QString& value) {
    store.Set(QStringLiteral("PACS"), QStringLiteral("Main"), key, value);
}

void WindowTest::WriteConnectionFile(const QString& fileName, const QString& databaseName) {
    QFile file(home.filePath(fileName));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(("Driver=SQLite3;Database=" + home.filePath(databaseName) + "\r\n").toUtf8());
}

void WindowTest::Open() {
    runtime = std::make_unique<ServerRuntime>(store, home.path());
    window = std::make_unique<MainWindow>(*runtime, program);
    window->show();
    window->Load();
}

void WindowTest::Close() {
    if (runtime) runtime->Shutdown();
    window.reset();
    runtime.reset();
}
