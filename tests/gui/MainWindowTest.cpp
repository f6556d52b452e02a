// The main window's composition, tabs, resizing, log view and the controls
// the service reads.

#include <QCheckBox>
#include <QGroupBox>
#include <QLayout>
#include <QLineEdit>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>

#include "app/LogView.h"
#include "gui/WindowHarness.h"

namespace {

class MainWindowTest : public WindowTest {
protected:
    MainWindowTest() { StoreMode("optBramwoods"); }

    QString TextOf(const char* name) const {
        QObject* control = window->findChild<QObject*>(QLatin1String(name));
        if (!control) return QStringLiteral("<missing>");
        for (const char* property : {"text", "plainText", "title"}) {
            const QVariant value = control->property(property);
            if (value.isValid()) return value.toString();
        }
        return QStringLiteral("<no text>");
    }
    void ResizeTo(int width, int height) {
        window->resize(width, height);
        QTest::qWait(20);
        window->layout()->activate();
    }
};

TEST_F(MainWindowTest, ControlsCarryTheirNamesAndDesignedTexts) {
    Open();
    EXPECT_EQ(window->objectName(), "MWLServer");
    const std::pair<const char*, const char*> expected[] = {
        {"Label37", "TALVEK PACS Modality Worklist Server"},
        {"txtWarning", "Do not close this window."},
        {"lblComm", "..."},
        {"cmdTest", "Test"},
        {"cmdDoneExams", "Exams Done..."},
        {"Text1", ""},
        {"Label8", "port:"},
        {"Label10", "Inst. Name:"},
        {"Label11", "query number:"},
        {"chkShowRequests", "Show Requested Elements"},
        {"chkReplaceEnye", "Replace ñ with n (alt 164 / 165)"},
        {"chkGenStudyUID", "Generate Study UID"},
        {"chkTrace", "Trace"},
        {"Frame3", "Connection Mode"},
        {"optTALVEK", "TALVEK"},
        {"optPELTA", "PELTA"},
        {"optCorvante", "Corvante"},
        {"optBramwoods", "Bramwoods / HL7"},
        {"optOrvelline", "Orvelline"},
        {"Label9", "HL7 Folder:"},
        {"cmdDLLUpdate", "Program Update"},
        {"Label43", "Downloading, please wait..."},
        {"Label12_0", "Request #"},
        {"Label12_5", "HopsNum"},
        {"txtModality", "CR"},
        {"txtRequestNum", ""},
        {"cmdQueryStr", "Use Default SQL"},
        {"txtSQLStr", ""},
        {"cmdRunSQL", "&Test"},
        {"chkReturnThis", "Return this Query"},
        {"txtSQLResult", ""},
        {"Frame1", "Remote SCP"},
        {"RemoteNode", "127.0.0.1"},
        {"RemotePort", "105"},
        {"RemoteAE", "REMOTE_AET"},
        {"Frame2", "Local AE"},
        {"CallingAE", "TALVEK"},
        {"MoveDestination", "TALVEK"},
        {"chkQueryWorklist", "Worklist Query"},
        {"lblLastname", "&Last Name:"},
        {"txtHospNum", ""},
        {"cmdQuery", "Query"},
        {"txtQueryResult", ""},
    };
    for (const auto& [name, text] : expected)
        EXPECT_EQ(TextOf(name), QString::fromUtf8(text)) << name;

    auto* tabs = Find<QTabWidget>("SSTab1");
    ASSERT_EQ(tabs->count(), 5);
    EXPECT_EQ(tabs->tabText(0), "&Log");
    EXPECT_EQ(tabs->tabText(1), "&Options");
    EXPECT_EQ(tabs->tabText(2), "&Test");
    EXPECT_EQ(tabs->tabText(3), "DICOM &Query");
    EXPECT_EQ(tabs->tabText(4), "&Performed Steps");
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_TRUE(Find<QPlainTextEdit>("Logger")->isReadOnly());
    EXPECT_TRUE(Find<QWidget>("fraPlsWait")->isHidden());
    EXPECT_EQ(Find<QLineEdit>("txtLastname")->toolTip(), "use * for wildcard");
    EXPECT_EQ(Find<QLineEdit>("txtAccessionNumber")->toolTip(), "or Request Num");
}

TEST_F(MainWindowTest, LogFrameShowsOnlyOnTheFirstTab) {
    Open();
    auto* tabs = Find<QTabWidget>("SSTab1");
    auto* fraLog = Find<QWidget>("fraLog");
    tabs->setCurrentIndex(1);
    EXPECT_TRUE(fraLog->isHidden());
    tabs->setCurrentIndex(3);
    EXPECT_TRUE(fraLog->isHidden());
    tabs->setCurrentIndex(0);
    EXPECT_FALSE(fraLog->isHidden());
    EXPECT_TRUE(fraLog->isVisible());
}

TEST_F(MainWindowTest, ResizingFollowsTheWindowAtAnySize) {
    Open();
    auto* logger = Find<QWidget>("Logger");
    auto* fraLog = Find<QWidget>("fraLog");
    auto* fraCommand = Find<QWidget>("fraCommand");
    ResizeTo(1094, 730);
    const QSize designLog = logger->size();

    ResizeTo(1900, 1300);
    EXPECT_GT(logger->width(), designLog.width() + 500);
    EXPECT_GT(logger->height(), designLog.height() + 400);
    // The command frame keeps to the right edge of the log frame.
    EXPECT_LT(fraLog->width() - fraCommand->geometry().right(), 40);
    EXPECT_GT(fraCommand->x(), logger->geometry().right());

    auto* tabs = Find<QTabWidget>("SSTab1");
    tabs->setCurrentIndex(2);
    auto* result = Find<QWidget>("txtSQLResult");
    ResizeTo(1094, 730);
    const int designResult = result->height();
    ResizeTo(1094, 1100);
    EXPECT_GT(result->height(), designResult + 300);
    tabs->setCurrentIndex(0);

    ResizeTo(1, 1);
    EXPECT_TRUE(logger->isVisible());
    EXPECT_GT(logger->width(), 0);
    EXPECT_GT(logger->height(), 0);
    ResizeTo(1094, 730);
    EXPECT_EQ(logger->size(), designLog);
}

// Each switch goes into the snapshot the next query takes the moment its
// control changes.
TEST_F(MainWindowTest, SwitchesAreTheControlsAsTheyStandNow) {
    Open();
    const auto current = [this] { return runtime->Settings().Current()->switches; };
    const std::pair<const char*, bool Switches::*> checks[] = {
        {"chkShowRequests", &Switches::showRequests},
        {"chkReplaceEnye", &Switches::replaceEnye},
        {"chkGenStudyUID", &Switches::generateStudyUid},
        {"chkTrace", &Switches::trace},
        {"chkReturnThis", &Switches::returnThisQuery}};
    for (const auto& [name, member] : checks) {
        auto* box = Find<QCheckBox>(name);
        box->setChecked(true);
        for (const auto& [other, otherMember] : checks)
            EXPECT_EQ(current().*otherMember, QLatin1String(other) == name) << name << other;
        box->setTristate(true);
        box->setCheckState(Qt::PartiallyChecked);  // grayed counts as not ticked
        EXPECT_FALSE(current().*member) << name;
        box->setCheckState(Qt::Unchecked);
    }
    Find<QPlainTextEdit>("txtSQLStr")->setPlainText("select 1");
    Find<QLineEdit>("txtInstName")->setText("NORTH");
    Find<QLineEdit>("txtHL7Folder")->setText("/srv/orders");
    EXPECT_EQ(current().sqlBoxText, "select 1");
    EXPECT_EQ(current().institutionBoxText, "NORTH");
    EXPECT_EQ(current().hl7FolderText, "/srv/orders");
}

// What the box shows is the log with CR LF as its line break; an append adds
// to the box instead of rebuilding it.
TEST(LogView, FollowsTheLogIncrementally) {
    FakeLog log;
    QPlainTextEdit box;
    box.resize(300, 80);
    LogView view(log, box);
    const auto shown = [&] {
        QCoreApplication::processEvents();
        return box.toPlainText();
    };
    const auto expected = [&] { return log.Text().replace("\r\n", "\n"); };

    log.Replace("started...");
    log.Log("one");
    EXPECT_EQ(shown(), expected());
    box.document()->firstBlock().setUserState(7);
    for (int i = 0; i < 50; ++i) log.Log(QStringLiteral("line %1").arg(i));
    log.AppendLog("untimed");
    EXPECT_EQ(shown(), expected());
    EXPECT_EQ(box.document()->firstBlock().userState(), 7) << "the box was rebuilt";
    EXPECT_EQ(box.verticalScrollBar()->value(), box.verticalScrollBar()->maximum());

    log.Log("not yet shown");
    log.Prepend("Type mismatch 16 48");
    EXPECT_EQ(shown(), expected());
    EXPECT_TRUE(box.toPlainText().startsWith("Type mismatch 16 48\nstarted...\n"));

    log.Log("dropped by the replacement");
    log.Replace("CR\r\n");
    EXPECT_EQ(shown(), "CR\n");
}

}  // namespace
