// The worklist test client of the "DICOM &Query" page against a peer server
// no one here wrote (DCMTK's wlmscpfs) and against this very process while
// it serves a modality.

#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "e2e/HisDatabase.h"
#include "gui/WindowHarness.h"
#include "gui/WorklistPeer.h"

namespace {

// One match as the result box shows it (the box breaks lines where the
// client writes CR LF).
QString Block(const QString& name, const QString& id, const QString& accession,
              const QString& birthDate, const QString& modality = QString()) {
    return "\nName=" + name + "\nID=" + id + "\nAccession num=" + accession + "\nDOB=" + birthDate +
           "\nModality=" + modality + "\n-----\n";
}

// True when text is exactly the blocks, in any order.
testing::AssertionResult AreBlocks(const QString& text, const QStringList& blocks) {
    qsizetype length = 0;
    for (const QString& block : blocks) {
        if (!text.contains(block))
            return testing::AssertionFailure()
                   << "no block " << block.toStdString() << " in " << text.toStdString();
        length += block.size();
    }
    if (text.size() != length)
        return testing::AssertionFailure() << "more than the blocks: " << text.toStdString();
    return testing::AssertionSuccess();
}

class WorklistTestClientTest : public WindowTest {
protected:
    WorklistTestClientTest() { StoreMode("optBramwoods"); }

    void PointAt(int remotePort, const QString& remoteAe) {
        Find<QLineEdit>("RemotePort")->setText(QString::number(remotePort));
        Find<QLineEdit>("RemoteAE")->setText(remoteAe);
    }
    QString Result() const { return Find<QPlainTextEdit>("txtQueryResult")->toPlainText(); }
    // Presses "Query" and lets the event loop run until the answer is in.
    void Query(const QString& lastName = QString()) {
        Find<QLineEdit>("txtLastname")->setText(lastName);
        auto* button = Find<QPushButton>("cmdQuery");
        button->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return button->isEnabled(); }, 90000))
            << "the query never ended";
    }
    void CloseMessages() {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget)) box->close();
    }
};

TEST_F(WorklistTestClientTest, ListsWhatAPeerWorklistServerAnswers) {
    WorklistPeer peer;
    ASSERT_TRUE(peer.Add({"ACC1", "DOE^JANE", "PID1", "19800102", "CR"}));
    ASSERT_TRUE(peer.Add({"ACC2", "DOE^JOHN", "PID2", "19750505", "CT"}));
    ASSERT_TRUE(peer.Add({"ACC3", "ROE^RICHARD", "PID3", "19600101", "MR"}));
    ASSERT_TRUE(peer.Start());
    Open();
    EXPECT_EQ(Find<QLineEdit>("RemoteNode")->text(), "127.0.0.1");
    PointAt(peer.Port(), WorklistPeer::kAeTitle);
    const QString jane = Block("DOE^JANE", "PID1", "ACC1", "19800102");
    const QString john = Block("DOE^JOHN", "PID2", "ACC2", "19750505");
    const QString richard = Block("ROE^RICHARD", "PID3", "ACC3", "19600101");

    // The click returns at once; the window's timers run while the peer answers.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(0);
    auto* button = Find<QPushButton>("cmdQuery");
    button->click();
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(Result(), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return button->isEnabled(); }, 90000));
    EXPECT_GT(ticks, 0);
    const QString first = Result();
    ASSERT_TRUE(first.startsWith('\n'));
    EXPECT_TRUE(AreBlocks(first.mid(1), {jane, john, richard}));

    // The name goes out as typed, so the peer applies the wildcard; every
    // run appends below the last.
    Query("DOE*");
    ASSERT_TRUE(Result().startsWith(first + '\n'));
    EXPECT_TRUE(AreBlocks(Result().mid(first.size() + 1), {jane, john}));
    const QString second = Result();
    Query("NOBODY");
    EXPECT_EQ(Result(), second + "\nNo results found");
    EXPECT_TRUE(OpenMessageTexts().isEmpty());

    // The peer refuses any other called AE title: one message, no listing.
    PointAt(peer.Port(), "OTHER_AE");
    Query();
    EXPECT_EQ(OpenMessageTexts().size(), 1) << OpenMessageTexts().join('|').toStdString();
    EXPECT_EQ(Result(), second + "\nNo results found\nNo results found");
    CloseMessages();
}

// The service thread answers a modality and the client's query to this very
// process at the same time.
TEST_F(WorklistTestClientTest, QueriesThisVeryProcessWhileItServesAModality) {
    ASSERT_TRUE(HisDatabase::Create(HomePath("corvante.db"), HisDatabase::OpenOrders(3)));
    WriteConnectionFile("CORVANTE.txt", "corvante.db");
    StoreMode("optCorvante");
    Open();
    ASSERT_TRUE(runtime->Listening());
    PointAt(port, "ANY-SCP");
    FindScu modality(port, WorklistKeys());
    modality.Start();
    auto* button = Find<QPushButton>("cmdQuery");
    button->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return button->isEnabled() && !modality.Running(); }, 90000));
    const FindOutcome served = modality.Finish();
    EXPECT_TRUE(served.Succeeded()) << served.output.right(2000).toStdString();
    EXPECT_EQ(served.PatientIds(), (QStringList{"P1", "P2", "P3"}));
    EXPECT_EQ(Result(), "\n" + Block("LAST1^FIRST1^MIDDLE", "P1", "1", "19700101") +
                            Block("LAST2^FIRST2^MIDDLE", "P2", "2", "19700101") +
                            Block("LAST3^FIRST3^MIDDLE", "P3", "3", "19700101"));
    EXPECT_TRUE(OpenMessageTexts().isEmpty());
}

TEST_F(WorklistTestClientTest, AFailureGivesOneMessageAndNoResults) {
    Open();
    PointAt(FreePort(), "REMOTE_AET");
    Query();
    const QStringList refused = OpenMessageTexts();
    ASSERT_EQ(refused.size(), 1);
    EXPECT_TRUE(refused.first().contains("REMOTE_AET at 127.0.0.1 port"))
        << refused.first().toStdString();
    EXPECT_EQ(Result(), "\nNo results found");
    CloseMessages();

    Find<QLineEdit>("RemotePort")->setText("10a");
    Query();
    EXPECT_EQ(OpenMessageTexts(), QStringList{"Type mismatch: port '10a' is not a number."});
    EXPECT_EQ(Result(), "\nNo results found\nNo results found");
    CloseMessages();
}

}  // namespace
