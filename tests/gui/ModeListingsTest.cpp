// "Test" and "Exams Done...": the listings over FakeHis where the back-end is
// a SQL Server (TALVEK, PELTA), which cannot run on this machine, and over
// SQLite through ODBC in the window for CORVANTE and the order folder.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <atomic>
#include <thread>

#include "e2e/HisDatabase.h"
#include "e2e/MppsClient.h"
#include "gui/WindowHarness.h"
#include "tools/ModeListings.h"
#include "unit/BaseSqlFor.h"
#include "worklist/talvek/TalvekStatement.h"

namespace {

QString ShortDate(int year, int month, int day) {
    return QLocale::system().toString(QDate(year, month, day), QLocale::ShortFormat);
}

Row Order(int n, const QVariant& ordered) {
    return {{"RequestNum", QStringLiteral("R%1").arg(n)},
            {"TranD", ordered},
            {"HN", QStringLiteral("H%1").arg(n)},
            {"MLN", "DOE"},
            {"MFN", QVariant()},
            {"MASBirthDate", QDate(1980, 1, 2)},
            {"MASS", "F"},
            {"IDN", n},
            {"DocName", "D1^REYES^JOSE^"},
            {"ProcCode", "X1"},
            {"ProcDesc", "CHEST PA"},
            {"branch_code", "MAIN"}};
}

// The listings with fakes for the service and real controls; the tools run on
// their own thread, as in the window.
class ListingsTest : public ::testing::Test {
protected:
    ListingsTest() { page.show(); }
    ~ListingsTest() override { tools.reset(); }

    void Make(ConnectionMode mode, StatusView* status = nullptr) {
        fake.SetMode(mode);
        fake.Publish();
        tools = std::make_unique<ToolsWorker>(
            [this] { return std::make_unique<BorrowedHis>(fake.his); }, fake.settings,
            [] { return 20; }, &page);
        listings = std::make_unique<ModeListings>(
            *tools, fake.log, status ? *status : fake.status, fake.settings,
            ListingControls{text1, modality, test, doneExams}, [](const QString&) {});
        QObject::connect(&test, &QPushButton::clicked, [this] { listings->cmdTest_Click(); });
        QObject::connect(&doneExams, &QPushButton::clicked,
                         [this] { listings->cmdDoneExams_Click(); });
    }
    // Clicks and waits until the listing is over: both buttons are back.
    void Click(QPushButton& button) {
        button.click();
        QTRY_VERIFY_WITH_TIMEOUT(test.isEnabled() && doneExams.isEnabled(), 5000);
    }
    // The log after a listing, without the empty first line.
    QStringList Lines() const { return fake.log.Lines().mid(1); }

    FakeServices fake;
    QWidget page;
    QPlainTextEdit text1{&page};
    QLineEdit modality{QStringLiteral("CR"), &page};
    QPushButton test{&page};
    QPushButton doneExams{&page};
    std::unique_ptr<ToolsWorker> tools;
    std::unique_ptr<ModeListings> listings;
};

// While the statement runs the window goes on (the pointer waits, both
// buttons are disabled, a click starts nothing), and a failure anywhere gives
// all of it back.
TEST_F(ListingsTest, TalvekListingLeavesTheWindowFreeAndRestoresItOnEveryPath) {
    Make(ConnectionMode::Talvek);
    modality.setText("cr");
    std::atomic<bool> release{false};
    std::atomic<bool> running{false};
    fake.his.answer = [&](const QString&) {
        running = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return Rows{Order(1, QDateTime(QDate(2026, 12, 1), QTime(8, 5, 9))), Order(2, QVariant())};
    };
    fake.log.Replace("earlier lines");
    test.click();
    QTRY_VERIFY_WITH_TIMEOUT(running.load(), 5000);
    const QCursor* cursor = QApplication::overrideCursor();
    EXPECT_TRUE(cursor && cursor->shape() == Qt::WaitCursor);
    EXPECT_FALSE(test.isEnabled() || doneExams.isEnabled());
    test.click();
    doneExams.click();
    QTest::qWait(50);  // the window's thread answers meanwhile
    release = true;
    QTRY_VERIFY_WITH_TIMEOUT(test.isEnabled() && doneExams.isEnabled(), 5000);

    const QString sql = MakeSQL("cr", QString()) + " order by trand desc ";
    EXPECT_EQ(fake.his.statements, QStringList{sql});
    EXPECT_EQ(fake.status.shownSql, QStringList{sql});
    const QString date = ShortDate(2026, 12, 1);
    const QString birth = ShortDate(1980, 1, 2);
    // The record without a date ends the listing.
    EXPECT_EQ(Lines(), (QStringList{FakeLog::Stamped(" , R1 , TALVEK , DOE^^^ , H1 , " + birth +
                                                     " , F , 1 , R1 , D1^REYES^JOSE^ , X1 , "
                                                     "CHEST PA , D1^REYES^JOSE^ , " +
                                                     date + " , 1"),
                                    FakeLog::Stamped("TranD '' is not a date.")}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // A modality MakeSQL does not know leaves a statement without its
    // SELECT, which the server rejects: the HIS's own failure reopens.
    modality.setText("XX");
    fake.his.answer = nullptr;
    fake.his.failWith = "Incorrect syntax near the keyword 'left'.";
    Click(test);
    ASSERT_EQ(fake.status.shownSql.size(), 2);
    EXPECT_TRUE(fake.status.shownSql.last().startsWith(" left outer join patient_data"));
    EXPECT_EQ(Lines(), QStringList{FakeLog::Stamped("Incorrect syntax near the keyword 'left'.")});
    EXPECT_EQ(fake.his.reopenCount, 1);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ListingsTest, PeltaListsTheTenOrdersItsStatementSelects) {
    Make(ConnectionMode::Pelta);
    // Like SQL Server, the fake returns no more rows than "top N" allows.
    fake.his.answer = [](const QString& sql) {
        Rows rows;
        for (int n = 1; n <= 12; ++n) rows.push_back(Order(n, QDate(2026, 12, n)));
        const auto top = QRegularExpression("^select top (\\d+) ").match(sql);
        if (top.hasMatch()) rows.resize(top.captured(1).toULongLong());
        return rows;
    };
    Click(test);
    EXPECT_EQ(fake.his.statements, QStringList{BaseSqlFor(ConnectionMode::Pelta)});
    EXPECT_TRUE(fake.status.shownSql.isEmpty());
    ASSERT_EQ(Lines().size(), 10);
    EXPECT_TRUE(Lines().last().endsWith(" , R10 , TALVEK , DOE^^^ , H10 , " +
                                        ShortDate(1980, 1, 2) +
                                        " , F , 10 , R10 , D1^REYES^JOSE^ , X1 , CHEST PA , "
                                        "D1^REYES^JOSE^ , " +
                                        ShortDate(2026, 12, 10) + " , 10"));
}

TEST_F(ListingsTest, OrvellineListsTheFiftyNewestOrders) {
    Make(ConnectionMode::Orvelline);
    fake.his.results.push_back({Order(1, QDateTime(QDate(2026, 12, 1), QTime(0, 0))),
                                Order(2, QDateTime(QDate(2026, 12, 2), QTime(7, 30)))});
    Click(test);
    const QString sql = BaseSqlFor(ConnectionMode::Orvelline) + " LIMIT 50 ";
    EXPECT_EQ(fake.his.statements, QStringList{sql});
    EXPECT_EQ(fake.status.shownSql, QStringList{sql});
    const QString birth = ShortDate(1980, 1, 2);
    EXPECT_EQ(
        Lines(),
        (QStringList{FakeLog::Stamped(" , R1 , " + ShortDate(2026, 12, 1) + " , DOE^^^ , H1 , " +
                                      birth + " , F , D1^REYES^JOSE^ , X1 , CHEST PA , " +
                                      ShortDate(2026, 12, 1) + " , MAIN"),
                     FakeLog::Stamped(" , R2 , " + ShortDate(2026, 12, 2) + " , DOE^^^ , H2 , " +
                                      birth + " , F , D1^REYES^JOSE^ , X1 , CHEST PA , " +
                                      ShortDate(2026, 12, 2) + " 07:30:00 , MAIN")}));
}

TEST_F(ListingsTest, CorvanteWritesAMissingOrderDateAsEmpty) {
    Make(ConnectionMode::Corvante);
    fake.his.results.push_back(
        {Order(1, QVariant()), Order(2, QDateTime(QDate(2026, 12, 2), QTime(7, 30, 5)))});
    Click(test);
    EXPECT_EQ(fake.status.shownSql, QStringList{BaseSqlFor(ConnectionMode::Corvante)});
    const QString birth = ShortDate(1980, 1, 2);
    EXPECT_EQ(Lines(),
              (QStringList{FakeLog::Stamped(" ,  , R1 , H1 , DOE^^^ , " + birth + " , F"),
                           FakeLog::Stamped(" , " + ShortDate(2026, 12, 2) +
                                            " 07:30:05 , R2 , H2 , DOE^^^ , " + birth + " , F")}));
    EXPECT_EQ(fake.his.reopenCount, 0);

    // Done exams run their own statement and touch neither box nor pointer.
    fake.his.results.push_back({Order(3, QVariant())});
    Click(doneExams);
    EXPECT_EQ(fake.his.statements.last(),
              "select worklistid as RequestNum,created as TranD, patientid as HN,last_name as "
              "MLN,first_name as MFN,middle_name as MMN ,   birthdate as MASBirthDate, gender as "
              "MASS         from xray_worklist where is_done=1");
    EXPECT_EQ(fake.status.shownSql.size(), 1);
    EXPECT_EQ(Lines(), QStringList{FakeLog::Stamped(" ,  , R3 , H3 , DOE^^^ , " + birth + " , F")});
}

class ListingWindowTest : public WindowTest {
protected:
    QStringList LogLines() const { return LogText().split("\r\n"); }
    // Clicks a listing's button and waits until the listing is over.
    void Run(const char* button) {
        Find<QPushButton>(button)->click();
        QTRY_VERIFY_WITH_TIMEOUT(Find<QPushButton>("cmdTest")->isEnabled() &&
                                     Find<QPushButton>("cmdDoneExams")->isEnabled(),
                                 5000);
    }
};

// Open P1, done P2, done but withdrawn P3, open but withdrawn P4.
TEST_F(ListingWindowTest, CorvanteOrdersAndDoneExamsFromTheDatabase) {
    QList<HisOrder> orders = HisDatabase::OpenOrders(4);
    orders[1].done = true;
    orders[2].done = true;
    orders[2].valid = false;
    orders[3].valid = false;
    ASSERT_TRUE(HisDatabase::Create(HomePath("corvante.db"), orders));
    WriteConnectionFile("CORVANTE.txt", "corvante.db");
    StoreMode("optCorvante");
    Open();

    Run("cmdTest");
    QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 2) << LogText().toStdString();
    EXPECT_EQ(lines[0], "");
    EXPECT_TRUE(
        lines[1].endsWith(" , 2024-05-02 08:01:00 , 1 , P1 , LAST1^FIRST1^^ , 1970-01-01 , M"))
        << lines[1].toStdString();
    EXPECT_EQ(Find<QPlainTextEdit>("txtSQLStr")->toPlainText(), BaseSqlFor(ConnectionMode::Corvante));

    Run("cmdDoneExams");
    lines = LogLines();
    ASSERT_EQ(lines.size(), 3) << LogText().toStdString();
    EXPECT_TRUE(
        lines[1].endsWith(" , 2024-05-03 08:02:00 , 2 , P2 , LAST2^FIRST2^^ , 1970-01-01 , F"));
    EXPECT_TRUE(
        lines[2].endsWith(" , 2024-05-04 08:03:00 , 3 , P3 , LAST3^FIRST3^^ , 1970-01-01 , M"));

    for (const char* other : {"optTALVEK", "optBramwoods", "optOrvelline", "optPELTA"}) {
        Find<QRadioButton>(other)->click();
        QTRY_VERIFY_WITH_TIMEOUT(LogText().contains("Connection mode changed to"), 5000);
        Run("cmdDoneExams");
        EXPECT_EQ(LogText(), "") << other;
    }
}

TEST_F(ListingWindowTest, OrderFolderListingGoesToItsBox) {
    ASSERT_TRUE(QDir(home.path()).mkdir("orders"));
    const QStringList firstLines = {"BWH|ADT|RAD|||||P1||DOE^JANE^|",
                                    "BWH|ADT|RAD|||||P2||ROE^JOHN^|"};
    for (int n = 0; n < firstLines.size(); ++n) {
        QFile order(HomePath(QStringLiteral("orders/O%1.HL7").arg(n + 1)));
        ASSERT_TRUE(order.open(QIODevice::WriteOnly));
        order.write((firstLines[n] + "\r\nsecond line\r\n").toLatin1());
    }
    StoreMode("optBramwoods");
    StoreMain("txtHL7Folder", HomePath("orders"));
    Open();
    Run("cmdTest");
    const QString folder = HomePath("orders") + "/";
    EXPECT_EQ(Find<QPlainTextEdit>("Text1")->toPlainText(),
              "\nstarting\n" + folder + "O1.HL7\n" + folder + "O2.HL7\ndone");
    EXPECT_EQ(LogText(), firstLines.join("\r\n") + "\r\n");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace

// A modality reports an order finished: its row is on the Performed Steps
// tab, also after a restart, and "Exams Done..." lists the order.
TEST_F(ListingWindowTest, ACompletedStepIsOnItsTabAndItsOrderAmongTheExamsDone) {
    ASSERT_TRUE(MppsClient::Available());
    ASSERT_TRUE(HisDatabase::Create(HomePath("corvante.db"), HisDatabase::OpenOrders(2)));
    WriteConnectionFile("CORVANTE.txt", "corvante.db");
    StoreMode("optCorvante");
    Open();
    const QString uid = QStringLiteral("1.2.826.0.1.3680043.10.7.1");
    MppsClient modality(port);
    EXPECT_EQ(Statuses(modality.Send({StepCall::Create(uid, {"2"}),
                                      StepCall::Set(uid, QStringLiteral("COMPLETED"))})),
              (std::vector<int>{0, 0}));
    const QStringList row = {"2", "DOE^JANE", "CT01", "COMPLETED",
                             "done (CompletedStatement changed 1 row(s))"};
    const auto shown = [this] {
        auto* table = Find<QTableWidget>("tblSteps");
        QStringList cells;
        for (int column = 1; table->rowCount() == 1 && column < 6; ++column)
            cells << table->item(0, column)->text();
        return cells;
    };
    QTRY_COMPARE_WITH_TIMEOUT(shown(), row, 10000);

    Run("cmdDoneExams");
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 2) << LogText().toStdString();
    EXPECT_TRUE(
        lines[1].endsWith(" , 2024-05-03 08:02:00 , 2 , P2 , LAST2^FIRST2^^ , 1970-01-01 , F"))
        << lines[1].toStdString();

    Close();
    Open();
    QTRY_COMPARE_WITH_TIMEOUT(shown(), row, 10000);
}
