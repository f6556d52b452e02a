// What the operator sees without guessing: the status strip, log lines that
// stand alone and say what they are about, one kind of message box, the
// question before the service stops, and an order file list that shows a
// file's name whole.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTcpServer>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include "e2e/HisDatabase.h"
#include "gui/WindowHarness.h"
#include "update/LocalHttpServer.h"

namespace {

const QRegularExpression kStamped(QStringLiteral("^.+ \\d\\d:\\d\\d:\\d\\d "));

class OperatorViewTest : public WindowTest {
protected:
    QString Shown(const char* label) const { return Find<QLabel>(label)->text(); }
    QStringList LogLines() const { return LogText().split("\r\n"); }
};

// The strip sits below the tabs, so every tab shows it; it follows the
// service: the port, today's queries, the HIS, and the failure that came last.
TEST_F(OperatorViewTest, StatusStripFollowsTheServiceOnEveryTab) {
    ASSERT_TRUE(HisDatabase::Create(HomePath("corvante.db"), HisDatabase::OpenOrders(2)));
    WriteConnectionFile("CORVANTE.txt", "corvante.db");
    StoreMode("optCorvante");
    Open();
    QTRY_COMPARE_WITH_TIMEOUT(Shown("lblStatusPorts"), QStringLiteral("Listening on port %1").arg(port),
                              5000);
    EXPECT_EQ(Shown("lblStatusAssociations"), "No association open");
    EXPECT_EQ(Shown("lblStatusQueries"), "Today: 0 queries answered, 0 failed");
    QTRY_COMPARE_WITH_TIMEOUT(Shown("lblStatusHis"), QStringLiteral("HIS: connected"), 5000);
    EXPECT_TRUE(Find<QLabel>("lblStatusSteps")->isHidden());

    auto* tabs = Find<QTabWidget>("SSTab1");
    for (int tab = 0; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        EXPECT_TRUE(Find<QWidget>("fraStatus")->isVisible()) << tab;
    }

    ASSERT_TRUE(QueryWhileServing(port).Succeeded());
    QTRY_COMPARE_WITH_TIMEOUT(Shown("lblStatusQueries"),
                              QStringLiteral("Today: 1 query answered, 0 failed"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(Shown("lblStatusAssociations"), QStringLiteral("No association open"),
                              5000);

    // The HIS file goes away: the query fails, and the strip says why.
    ASSERT_TRUE(QFile::remove(HomePath("corvante.db")));
    EXPECT_FALSE(QueryWhileServing(port).Succeeded());
    QTRY_COMPARE_WITH_TIMEOUT(Shown("lblStatusQueries"),
                              QStringLiteral("Today: 1 query answered, 1 failed"), 5000);
    EXPECT_TRUE(Shown("lblStatusHis").startsWith("HIS: failing (HIS not available at "))
        << Shown("lblStatusHis").toStdString();
}

// Every line stands alone, events carry their date and time, and a line
// says what it is about: here the update server's refusal right after
// "started...", and the order folder that cannot be examined.
TEST_F(OperatorViewTest, LogLinesStandAloneStampedAndNamed) {
    LocalHttpServer updateServer;
    ASSERT_TRUE(updateServer.Start());
    updateServer.Respond(CannedResponse{.status = 404, .body = "<html>gone</html>"});
    store.Set("PACS", "Update", "Port", QString::number(updateServer.Port()));
    StoreMode("optBramwoods");
    StoreMain("txtHL7Folder", HomePath("no such folder"));
    Open();
    Find<QPushButton>("cmdDLLUpdate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(LogText().contains("update refused"), 30000);
    QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 2) << LogText().toStdString();
    EXPECT_EQ(lines[0], "started...");
    EXPECT_TRUE(kStamped.match(lines[1]).hasMatch()) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].endsWith(" update refused: HTTP 404"));
    for (QMessageBox* box : window->findChildren<QMessageBox*>()) box->close();

    // A folder that is not there fails the query, and the log says why.
    const FindOutcome missingFolder = QueryWhileServing(port);
    EXPECT_TRUE(missingFolder.FailedUnableToProcess());
    EXPECT_EQ(missingFolder.ErrorComment(), "Order folder not available");
    lines = LogLines();
    const QString folderLine = " Order files in " + HomePath("no such folder") + "/: cannot be examined.";
    const qsizetype at = lines.indexOf(QRegularExpression(".*" + QRegularExpression::escape(folderLine)));
    ASSERT_GE(at, 1) << LogText().toStdString();
    EXPECT_TRUE(kStamped.match(lines[at]).hasMatch());
    EXPECT_TRUE(kStamped.match(lines.value(at + 1)).hasMatch());
    EXPECT_TRUE(lines.value(at + 1).contains(" Query Request error: Order folder "))
        << lines.value(at + 1).toStdString();
    EXPECT_TRUE(IsAssociationStart(lines[0])) << lines[0].toStdString();
}

// The window's messages and the update's look the same: a warning icon and
// the window's whole title, in a box wide enough to show it.
TEST_F(OperatorViewTest, MessageBoxesAreAlikeAndShowTheWholeTitle) {
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    store.Set("PACS", "Update", "Port", QString::number(closedPort));
    StoreMode("optBramwoods");
    Open();
    window->ShowMessage("x");
    Find<QPushButton>("cmdDLLUpdate")->click();
    const QString refused =
        QStringLiteral("Cannot connect to the update server 127.0.0.1 port %1.").arg(closedPort);
    QTRY_VERIFY_WITH_TIMEOUT(OpenMessageBox(*window, refused) != nullptr, 30000);
    for (const QString& text : {QStringLiteral("x"), refused}) {
        QMessageBox* box = OpenMessageBox(*window, text);
        ASSERT_NE(box, nullptr) << text.toStdString();
        EXPECT_EQ(box->icon(), QMessageBox::Warning) << text.toStdString();
        EXPECT_EQ(box->windowTitle(), MainWindow::Title());
        EXPECT_GT(box->width(), box->fontMetrics().horizontalAdvance(box->windowTitle()) + 60)
            << text.toStdString();
    }
}

// Closing the window stops the worklist of every modality: the operator is
// asked once, No keeps everything serving, Yes ends the program.
TEST_F(OperatorViewTest, ClosingTheWindowAsksBeforeTheServiceStops) {
    StoreMode("optBramwoods");
    Open();
    QSignalSpy closed(window.get(), &MainWindow::Closed);
    window->close();
    window->close();
    QMessageBox* question = OpenMessageBox(*window, MainWindow::StopQuestion());
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(question->icon(), QMessageBox::Question);
    EXPECT_EQ(question->windowTitle(), MainWindow::Title());
    int asked = 0;
    for (QMessageBox* box : window->findChildren<QMessageBox*>())
        asked += box->isVisible() && box->text() == MainWindow::StopQuestion();
    EXPECT_EQ(asked, 1);

    ASSERT_TRUE(AnswerStopQuestion(*window, false));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(closed.count(), 0);
    EXPECT_TRUE(runtime->Listening());

    window->close();
    ASSERT_TRUE(AnswerStopQuestion(*window, true));
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(window->isVisible());
}

// The HL7 folder listing never breaks a name across lines, and the box
// is wide enough for an order file's name.
TEST_F(OperatorViewTest, OrderFileListShowsAFileNameWhole) {
    ASSERT_TRUE(QDir(home.path()).mkdir("orders"));
    QFile order(HomePath("orders/ORDER0001.HL7"));
    ASSERT_TRUE(order.open(QIODevice::WriteOnly));
    order.write("BWH|ADT|RAD|||||P1||DOE^JANE^|\r\n");
    order.close();
    StoreMode("optBramwoods");
    StoreMain("txtHL7Folder", HomePath("orders"));
    Open();
    Find<QPushButton>("cmdTest")->click();
    auto* list = Find<QPlainTextEdit>("Text1");
    QTRY_VERIFY_WITH_TIMEOUT(list->toPlainText().endsWith("done"), 5000);
    list->setPlainText("ORDER0001.HL7\n" + list->toPlainText());
    QApplication::processEvents();
    EXPECT_GE(list->viewport()->width(), list->fontMetrics().horizontalAdvance("ORDER0001.HL7"));
    for (QTextBlock block = list->document()->firstBlock(); block.isValid(); block = block.next())
        EXPECT_EQ(block.layout()->lineCount(), 1) << block.text().toStdString();
}

}  // namespace
