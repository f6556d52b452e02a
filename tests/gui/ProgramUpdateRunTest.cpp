// The desktop program updates a copy of itself from an HTTP server on the
// loopback interface, through its "Program Update" button.

#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "gui/WindowHarness.h"
#include "update/LocalHttpServer.h"

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QMessageBox* OpenBox(QWidget& window, const QString& text) {
    for (QMessageBox* box : window.findChildren<QMessageBox*>())
        if (box->isVisible() && box->text() == text) return box;
    return nullptr;
}

class ProgramUpdateRunTest : public WindowTest {};

TEST_F(ProgramUpdateRunTest, ReplacesTheProgramWithTheServedBuild) {
    const QByteArray build = ReadAll(QStringLiteral(MWL_SERVER_BINARY));
    ASSERT_GT(build.size(), 1000);
    LocalHttpServer server;
    ASSERT_TRUE(server.Start());
    server.Respond(CannedResponse{.body = build});
    const QByteArray oldBuild = QByteArray(
                                    "\x7F"
                                    "ELF old build ") +
                                QByteArray(300, 'o');
    program = ProgramFile{HomePath("talvek-mwl"), {}};
    QFile copy(program.path);
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
    copy.write(oldBuild);
    copy.close();
    ASSERT_TRUE(copy.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    store.Set("PACS", "Update", "Port", QString::number(server.Port()));
    StoreMode("optBramwoods");
    Open();

    auto* button = Find<QPushButton>("cmdDLLUpdate");
    button->click();
    EXPECT_FALSE(button->isEnabled());
    QMessageBox* question = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (question = OpenBox(*window, "Done. Run Program?")) != nullptr; }, 60000))
        << LogText().toStdString();
    EXPECT_TRUE(Find<QWidget>("fraPlsWait")->isHidden());
    question->button(QMessageBox::No)->click();
    QTest::qWait(1);

    ASSERT_EQ(server.requests.size(), 1);
    EXPECT_EQ(server.requests.first().target,
              "/apps/pacs/server/talvek-mwl?Username=talvek&Password=quimbo");
    EXPECT_EQ(ReadAll(program.path), build);
    EXPECT_EQ(ReadAll(HomePath("talvek-mwl1")), oldBuild);
    EXPECT_TRUE(QFile::permissions(program.path) & QFile::ExeOwner);
    EXPECT_TRUE(LogText().contains("Program updated: " + program.path)) << LogText().toStdString();
    EXPECT_TRUE(button->isEnabled());
    EXPECT_TRUE(runtime->Listening());
}

}  // namespace
