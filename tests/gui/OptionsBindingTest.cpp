// The "&Options" tab over the settings store: what the load shows, what each
// control saves and when, and how start-up problems reach the operator.

#include <QApplication>
#include <QCheckBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTcpServer>
#include <QTest>

#include "gui/WindowHarness.h"

namespace {

const QString kPacs = QStringLiteral("PACS");
const QString kMain = QStringLiteral("Main");
const QStringList kOptionKeys = {"optTALVEK", "optPELTA", "optCorvante", "optBramwoods",
                                 "optOrvelline"};

class OptionsTest : public WindowTest {
protected:
    QStringList StoredFlags() const {
        QStringList flags;
        for (const QString& key : kOptionKeys) flags << store.Stored(kPacs, kMain, key);
        return flags;
    }
    QStringList CheckedOptions() const {
        QStringList checked;
        for (const QString& key : kOptionKeys)
            if (Find<QRadioButton>(key.toLatin1().constData())->isChecked()) checked << key;
        return checked;
    }
    QString StoredResultNumber() const {
        return store.Stored("Modality WorkList", "Settings", "ResultQueryNumber");
    }
    // Gives the window the input focus the way the operator's click would.
    void Activate() {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
};

TEST_F(OptionsTest, FirstStartWithAnEmptyStore) {
    store.values.clear();
    Open();
    EXPECT_EQ(CheckedOptions(), QStringList{"optTALVEK"});
    EXPECT_EQ(runtime->Settings().Current()->mode, ConnectionMode::Talvek);
    EXPECT_EQ(StoredFlags(), (QStringList{"True", "False", "False", "False", "False"}));
    EXPECT_EQ(Find<QLineEdit>("txtPort")->text(), "105");
    EXPECT_EQ(store.Stored(kPacs, kMain, "WorklistPort"), "105");
    EXPECT_EQ(Find<QLineEdit>("txtResultNumber")->text(), "300");
    EXPECT_EQ(Find<QLineEdit>("txtInstName")->text(), "");
    EXPECT_EQ(Find<QLineEdit>("txtHL7Folder")->text(), "");
    EXPECT_FALSE(Find<QCheckBox>("chkGenStudyUID")->isChecked());
}

TEST_F(OptionsTest, RestoredSelectionAndTheFirstTrueFlagWins) {
    StoreMode("optPELTA");
    Open();
    EXPECT_EQ(CheckedOptions(), QStringList{"optPELTA"});
    EXPECT_EQ(runtime->Settings().Current()->mode, ConnectionMode::Pelta);
    Close();

    StoreMain("optTALVEK", "True");
    StoreMain("optPELTA", "True");
    Open();
    EXPECT_EQ(CheckedOptions(), QStringList{"optTALVEK"});
    EXPECT_EQ(StoredFlags(), (QStringList{"True", "False", "False", "False", "False"}));
}

TEST_F(OptionsTest, StoredValuesFillTheBoxes) {
    StoreMode("optBramwoods");
    StoreMain("txtHL7Folder", "/srv/hl7");
    store.Set(kPacs, "Worklist", "txtInstName", "NORTH");
    store.Set("Modality WorkList", "Settings", "ResultQueryNumber", "25");
    store.Set("Modality Worklist", "Setting", "EnableStudyUIDGeneration", "1");
    Open();
    EXPECT_EQ(Find<QLineEdit>("txtHL7Folder")->text(), "/srv/hl7");
    EXPECT_EQ(Find<QLineEdit>("txtInstName")->text(), "NORTH");
    EXPECT_EQ(Find<QLineEdit>("txtResultNumber")->text(), "25");
    EXPECT_TRUE(Find<QCheckBox>("chkGenStudyUID")->isChecked());
}

TEST_F(OptionsTest, PortAndInstitutionSaveOnEveryChange) {
    StoreMode("optBramwoods");
    Open();
    auto* txtPort = Find<QLineEdit>("txtPort");
    txtPort->clear();
    EXPECT_EQ(store.Stored(kPacs, kMain, "WorklistPort"), "");
    QTest::keyClicks(txtPort, "11");
    EXPECT_EQ(store.Stored(kPacs, kMain, "WorklistPort"), "11");
    QTest::keyClicks(Find<QLineEdit>("txtInstName"), "MAIN");
    EXPECT_EQ(store.Stored(kPacs, "Worklist", "txtInstName"), "MAIN");
}

TEST_F(OptionsTest, ResultNumberSavesOnlyOnEnterAndTrimmed) {
    StoreMode("optBramwoods");
    Open();
    const QString before = StoredResultNumber();
    auto* box = Find<QLineEdit>("txtResultNumber");
    box->clear();
    QTest::keyClicks(box, "  42 ");
    EXPECT_EQ(StoredResultNumber(), before);
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(StoredResultNumber(), "42");
    box->clear();
    QTest::keyClicks(box, "17");
    QTest::keyClick(box, Qt::Key_Enter);  // the keypad's Enter key
    EXPECT_EQ(StoredResultNumber(), "17");
}

TEST_F(OptionsTest, Hl7FolderSavesWhenItLosesTheFocusOnly) {
    StoreMode("optBramwoods");
    Open();
    Activate();
    auto* folder = Find<QLineEdit>("txtHL7Folder");
    folder->setFocus();
    QTest::keyClicks(folder, "/srv/orders");
    EXPECT_EQ(store.Stored(kPacs, kMain, "txtHL7Folder"), "");
    QTest::keyClick(folder, Qt::Key_Return);
    EXPECT_EQ(store.Stored(kPacs, kMain, "txtHL7Folder"), "");
    Find<QLineEdit>("txtInstName")->setFocus();
    EXPECT_EQ(store.Stored(kPacs, kMain, "txtHL7Folder"), "/srv/orders");
}

TEST_F(OptionsTest, GenerateStudyUidClickStoresOneThenZero) {
    StoreMode("optBramwoods");
    Open();
    auto* check = Find<QCheckBox>("chkGenStudyUID");
    check->click();
    EXPECT_EQ(store.Stored("Modality Worklist", "Setting", "EnableStudyUIDGeneration"), "1");
    check->click();
    EXPECT_EQ(store.Stored("Modality Worklist", "Setting", "EnableStudyUIDGeneration"), "0");
}

// The query number box takes digits only, so no query can fail on its
// limit; a stored value that is no number is shown replaced, logged, and
// stored as 300.
TEST_F(OptionsTest, ResultNumberIsAlwaysANumber) {
    StoreMode("optBramwoods");
    store.Set("Modality WorkList", "Settings", "ResultQueryNumber", "abc");
    Open();
    auto* box = Find<QLineEdit>("txtResultNumber");
    EXPECT_EQ(box->text(), "300");
    EXPECT_EQ(StoredResultNumber(), "300");
    EXPECT_EQ(runtime->Settings().Current()->ResultLimit(), 300);
    const QString said = QStringLiteral(
        "Settings: ResultQueryNumber \"abc\" is not a number from 0 to 999999999; using 300 "
        "instead (query number box).");
    EXPECT_TRUE(LogText().contains(said)) << LogText().toStdString();
    EXPECT_TRUE(OpenMessageTexts().contains(said));

    box->clear();
    QTest::keyClicks(box, "4a-2 ");
    EXPECT_EQ(box->text(), "42");
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(StoredResultNumber(), "42");
    box->clear();
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(StoredResultNumber(), "42");
    EXPECT_EQ(runtime->Settings().Current()->ResultLimit(), 42);
}

// The service keeps the port it started with: a new one is saved and marked
// as taking effect at the next start.
TEST_F(OptionsTest, APortChangeSaysItTakesEffectAtTheNextStart) {
    StoreMode("optBramwoods");
    Open();
    auto* note = Find<QLabel>("lblPortNote");
    auto* txtPort = Find<QLineEdit>("txtPort");
    EXPECT_TRUE(note->isHidden());
    txtPort->setText("11112");
    EXPECT_FALSE(note->isHidden());
    EXPECT_EQ(note->text(), "takes effect at the next start");
    EXPECT_EQ(store.Stored(kPacs, kMain, "WorklistPort"), "11112");
    EXPECT_EQ(runtime->Port(), port);
    txtPort->setText(QString::number(port));
    EXPECT_TRUE(note->isHidden());
}

// The Study UID step reads and writes TALVEK's request tables in every
// database mode: where the HIS has none, every query with an order fails
// while the box is ticked. The operator hears of it when the two meet (at
// load, on a mode click, on a tick); the queries still do as they are told.
TEST_F(OptionsTest, GenerateStudyUidWarnsWhereTheHisHasNoTalvekTables) {
    const auto warning = [](const char* mode) {
        return QStringLiteral("Generate Study UID is ticked, but the %1 HIS has no TALVEK request "
                              "tables: every query with an order fails while it stays ticked.")
            .arg(QLatin1String(mode));
    };
    const auto closeMessages = [] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget)) box->close();
    };
    for (const char* file : {"CORVANTE.txt", "DBServer.txt", "ORVELLINE.txt"})
        WriteConnectionFile(file, "his.db");
    StoreMode("optCorvante");
    store.Set("Modality Worklist", "Setting", "EnableStudyUIDGeneration", "1");
    Open();
    EXPECT_TRUE(LogText().contains(warning("CORVANTE"))) << LogText().toStdString();
    EXPECT_EQ(OpenMessageTexts(), QStringList{warning("CORVANTE")});
    closeMessages();

    auto* check = Find<QCheckBox>("chkGenStudyUID");
    Find<QRadioButton>("optTALVEK")->click();
    check->click();
    check->click();
    Find<QRadioButton>("optBramwoods")->click();
    check->click();
    check->click();
    EXPECT_TRUE(OpenMessageTexts().isEmpty()) << OpenMessageTexts().join('\n').toStdString();

    Find<QRadioButton>("optOrvelline")->click();
    EXPECT_EQ(OpenMessageTexts(), QStringList{warning("ORVELLINE")});
    closeMessages();
    check->click();
    check->click();
    EXPECT_EQ(OpenMessageTexts(), QStringList{warning("ORVELLINE")});
    EXPECT_EQ(LogText().count(warning("ORVELLINE")), 2);
    EXPECT_TRUE(runtime->Settings().Current()->switches.generateStudyUid);
}

// The operator must see why nothing answers; the window stays up so the
// setting can be corrected.
TEST_F(OptionsTest, PortNotANumberOrInUseIsLoggedAndShown) {
    StoreMode("optBramwoods");
    StoreMain("WorklistPort", "none");
    Open();
    EXPECT_EQ(Find<QLineEdit>("txtPort")->text(), "0");
    EXPECT_EQ(store.Stored(kPacs, kMain, "WorklistPort"), "0");
    EXPECT_FALSE(runtime->Listening());
    // Named as written, not as the number the box makes of it.
    EXPECT_TRUE(LogText().contains("Cannot listen on port \"none\" (WorklistPort)"))
        << LogText().toStdString();
    ASSERT_EQ(OpenMessageTexts().size(), 1);
    EXPECT_TRUE(OpenMessageTexts()[0].contains("port \"none\""));
    Close();

    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::LocalHost, 0));
    StoreMain("WorklistPort", QString::number(occupant.serverPort()));
    Open();
    const QString named = QStringLiteral("Cannot listen on port %1").arg(occupant.serverPort());
    EXPECT_FALSE(runtime->Listening());
    EXPECT_TRUE(LogText().contains(named)) << LogText().toStdString();
    ASSERT_EQ(OpenMessageTexts().size(), 1);
    EXPECT_TRUE(OpenMessageTexts()[0].contains(named));
    EXPECT_TRUE(window->isVisible());
}

// The security boxes show what the settings put in force, and cannot be
// edited: the settings file is where they change.
TEST_F(OptionsTest, SecuritySettingsAreShownReadOnly) {
    const char* boxes[] = {"txtSecTls",       "txtSecCertificate", "txtSecTrusted",
                           "txtSecPlainPort", "txtSecCallingAE",   "txtSecNetworks",
                           "txtSecCalledAE",  "txtSecLogFolder"};
    const auto shown = [&] {
        QStringList texts;
        for (const char* name : boxes) {
            const auto* box = Find<QLineEdit>(name);
            EXPECT_TRUE(box->isReadOnly()) << name;
            texts << box->text();
        }
        return texts;
    };
    Open();
    EXPECT_EQ(shown(), QStringList({"off", "none", "none", "open", "any", "any", "any", "none"}));
    Close();

    const QString security = QStringLiteral("Security");
    store.Set(kPacs, security, "TlsCertificateFile", "/etc/talvek/server.pem");
    store.Set(kPacs, security, "TlsTrustedCertificates", "/etc/talvek/ca");
    store.Set(kPacs, security, "AllowedCallingAETitles", "CT1,MR_2");
    store.Set(kPacs, security, "AllowedNetworks", "10.1.0.0/16, fd00::/8");
    store.Set(kPacs, security, "RequiredCalledAETitle", "TALVEK_MWL");
    store.Set(kPacs, security, "LogFolder", "/var/log/talvek");
    Open();
    EXPECT_EQ(shown(),
              QStringList({"off", "/etc/talvek/server.pem", "/etc/talvek/ca", "open", "CT1, MR_2",
                           "10.1.0.0/16, fd00::/8", "TALVEK_MWL", "/var/log/talvek"}));
    EXPECT_TRUE(runtime->Listening());
}

// An unattended machine restarting at night must serve without anyone
// closing the message first.
TEST_F(OptionsTest, MissingConnectionFileIsShownWithoutHoldingUpTheListener) {
    StoreMode("optCorvante");
    Open();
    EXPECT_TRUE(runtime->Listening());
    const QStringList messages = OpenMessageTexts();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("CORVANTE.txt")) << messages[0].toStdString();
    EXPECT_TRUE(LogText().contains("CORVANTE.txt"));
}

}  // namespace
