#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "Fakes.h"
#include "app/CommandLine.h"
#include "app/ConnectionFile.h"
#include "worklist/SourceFor.h"
#include "app/ModeOptions.h"
#include "app/NetworkSettings.h"
#include "app/StartupSettings.h"

namespace {

const QString kPacs = QStringLiteral("PACS");
const QString kMain = QStringLiteral("Main");
const QStringList kOptionKeys = {"optTALVEK", "optPELTA", "optCorvante", "optBramwoods",
                                 "optOrvelline"};

QStringList StoredOptions(const FakeSettings& store) {
    QStringList flags;
    for (const QString& key : kOptionKeys) flags << store.Stored(kPacs, kMain, key);
    return flags;
}

// ---- Connection mode options -------------------------------------------

TEST(ModeOptions, FirstStartSelectsTalvekAndWritesAllFiveFlags) {
    FakeSettings store;
    ModeOptions options(store);
    options.Load();
    EXPECT_TRUE(options.Selected(ModeOptions::Talvek));
    EXPECT_EQ(SourceFor(options.ConnectionMode()).Name(), "TALVEK");
    EXPECT_EQ(StoredOptions(store), (QStringList{"True", "False", "False", "False", "False"}));
    // Saved in the fixed order of the options.
    ASSERT_GE(store.writes.size(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(store.writes[i].startsWith("PACS/Main/" + kOptionKeys[i] + "="));
}

TEST(ModeOptions, StoredSelectionIsRestored) {
    FakeSettings store;
    store.Set(kPacs, kMain, "optTALVEK", "False");
    store.Set(kPacs, kMain, "optPELTA", "True");
    ModeOptions options(store);
    options.Load();
    EXPECT_TRUE(options.Selected(ModeOptions::Pelta));
    EXPECT_FALSE(options.Selected(ModeOptions::Talvek));
    EXPECT_EQ(SourceFor(options.ConnectionMode()).Name(), "PELTA");
    EXPECT_EQ(StoredOptions(store), (QStringList{"False", "True", "False", "False", "False"}));
}

TEST(ModeOptions, FirstTrueFlagWinsAndRewritesTheOthers) {
    FakeSettings store;
    store.Set(kPacs, kMain, "optTALVEK", "True");
    store.Set(kPacs, kMain, "optPELTA", "True");
    store.Set(kPacs, kMain, "optOrvelline", "True");
    ModeOptions options(store);
    options.Load();
    EXPECT_EQ(SourceFor(options.ConnectionMode()).Name(), "TALVEK");
    EXPECT_FALSE(options.Selected(ModeOptions::Pelta));
    EXPECT_EQ(store.Stored(kPacs, kMain, "optPELTA"), "False");
    EXPECT_EQ(store.Stored(kPacs, kMain, "optOrvelline"), "False");
}

TEST(ModeOptions, LastOptionAlone) {
    FakeSettings store;
    store.Set(kPacs, kMain, "optTALVEK", "False");
    store.Set(kPacs, kMain, "optOrvelline", "True");
    ModeOptions options(store);
    options.Load();
    EXPECT_EQ(SourceFor(options.ConnectionMode()).Name(), "ORVELLINE");
}

TEST(ModeOptions, NoFlagSetSelectsNothingAndWritesNothing) {
    FakeSettings store;
    for (const QString& key : kOptionKeys) store.Set(kPacs, kMain, key, "False");
    ModeOptions options(store);
    options.Load();
    EXPECT_EQ(SourceFor(options.ConnectionMode()).Name(), "");
    EXPECT_TRUE(store.writes.isEmpty());
}

TEST(ModeOptions, ClickSavesAndChangesTheModeAtOnce) {
    FakeSettings store;
    ModeOptions options(store);
    options.Load();
    options.Click(ModeOptions::Bramwoods);
    EXPECT_EQ(SourceFor(options.ConnectionMode()).Name(), "BRAMWOODS");
    EXPECT_EQ(StoredOptions(store), (QStringList{"False", "False", "False", "True", "False"}));
    options.Click(ModeOptions::Corvante);
    EXPECT_EQ(SourceFor(options.ConnectionMode()).Name(), "CORVANTE");
}

// ---- Port, institution, result limit, Study UID switch ------------------

// ---- Network limits ------------------------------------------------------

TEST(NetworkSettings, DefaultsStoredValuesAndFallbacks) {
    FakeSettings store;
    NetworkSettings network;
    network.Load(store);
    EXPECT_EQ(network.Description(),
              "Network limits: 64 associations at once, association request 5 s, idle "
              "association 60 s, DIMSE 60 s, maximum PDU 16384 bytes; matches pending with "
              "FF01; listening on every IPv4 and IPv6 address");
    EXPECT_TRUE(network.problems.isEmpty());
    EXPECT_TRUE(store.writes.isEmpty());

    const QString section = QStringLiteral("Network");
    store.Set(kPacs, section, "MaxAssociations", " 8 ");
    store.Set(kPacs, section, "AssociationRequestTimeout", "0");
    store.Set(kPacs, section, "IdleAssociationTimeout", "30s");
    store.Set(kPacs, section, "DimseTimeout", "3600");
    store.Set(kPacs, section, "MaxPduSize", "1000000");
    network.Load(store);
    EXPECT_EQ(network.limits.maxAssociations, 8);
    EXPECT_EQ(network.limits.associationRequestTimeout, 5);
    EXPECT_EQ(network.limits.idleAssociationTimeout, 60);
    EXPECT_EQ(network.limits.dimseTimeout, 3600);
    EXPECT_EQ(network.limits.maxPduSize, 16384);
    EXPECT_EQ(
        network.problems,
        (QStringList{"Network setting AssociationRequestTimeout=\"0\" is not a number from 1 to "
                     "300; using 5.",
                     "Network setting IdleAssociationTimeout=\"30s\" is not a number from 1 to "
                     "86400; using 60.",
                     "Network setting MaxPduSize=\"1000000\" is not a number from 4096 to 131072; "
                     "using 16384."}));
}

// The addresses to listen on, and the pending status for clients that take
// FF01 for a final one.
TEST(NetworkSettings, ListenAddressesAndPendingStatus) {
    FakeSettings store;
    const QString section = QStringLiteral("Network");
    store.Set(kPacs, section, "ListenAddresses", "127.0.0.1, ::1 ,eth0");
    store.Set(kPacs, section, "PendingStatus", "ff00");
    NetworkSettings network;
    network.Load(store);
    EXPECT_EQ(network.limits.pendingStatus, 0xFF00u);
    EXPECT_FALSE(network.addresses.Every());
    EXPECT_TRUE(
        network.Description().endsWith("matches pending with FF00; listening on 127.0.0.1, ::1"));
    EXPECT_EQ(
        network.problems,
        QStringList{"Network setting ListenAddresses: \"eth0\" is not an address; left out."});

    // Nothing usable named: nowhere, never every address.
    store.Set(kPacs, section, "ListenAddresses", "nowhere");
    store.Set(kPacs, section, "PendingStatus", "FF02");
    network.Load(store);
    EXPECT_FALSE(network.addresses.Every());
    EXPECT_TRUE(network.addresses.Entries().empty());
    EXPECT_EQ(network.limits.pendingStatus, 0xFF01u);
    EXPECT_TRUE(network.problems.contains(
        "Network setting PendingStatus=\"FF02\" is not FF01 or FF00; using FF01."));
}

TEST(StartupSettings, PortIsTheLeadingNumber) {
    EXPECT_EQ(StartupSettings::NormalisePort("0105"), "105");
    EXPECT_EQ(StartupSettings::NormalisePort("abc"), "0");
    EXPECT_EQ(StartupSettings::NormalisePort("11112x"), "11112");
    EXPECT_EQ(StartupSettings::NormalisePort(""), "0");
    EXPECT_EQ(StartupSettings::NormalisePort(" 104 "), "104");
    EXPECT_EQ(StartupSettings::NormalisePort("4242"), "4242");
    // Out of range stays visibly out of range; the listener reports it.
    EXPECT_EQ(StartupSettings::NormalisePort("70000"), "70000");
}

TEST(StartupSettings, EarlyLoadStoresThePortBackNormalised) {
    FakeSettings store;
    store.Set(kPacs, kMain, "WorklistPort", "0105");
    store.Set(kPacs, kMain, "txtHL7Folder", "/srv/hl7");
    store.Set(kPacs, "Worklist", "txtInstName", "St. Luke's");
    StartupSettings loaded;
    loaded.LoadEarly(store);
    EXPECT_EQ(loaded.portText, "105");
    EXPECT_EQ(store.Stored(kPacs, kMain, "WorklistPort"), "105");
    EXPECT_EQ(loaded.hl7Folder, "/srv/hl7");
    EXPECT_EQ(loaded.institutionName, "St. Luke's");

    FakeSettings bad;
    bad.Set(kPacs, kMain, "WorklistPort", "none");
    loaded.LoadEarly(bad);
    EXPECT_EQ(loaded.portText, "0");
    EXPECT_EQ(bad.Stored(kPacs, kMain, "WorklistPort"), "0");
}

TEST(StartupSettings, FirstStartDefaults) {
    FakeSettings store;
    StartupSettings loaded;
    loaded.LoadEarly(store);
    loaded.LoadLate(store);
    EXPECT_EQ(loaded.portText, "105");
    EXPECT_EQ(store.Stored(kPacs, kMain, "WorklistPort"), "105");
    EXPECT_EQ(loaded.hl7Folder, "");
    EXPECT_EQ(loaded.institutionName, "");
    EXPECT_EQ(loaded.resultNumber, "300");
    EXPECT_FALSE(loaded.generateStudyUid);
}

TEST(StartupSettings, LateLoadUsesBothApplicationSpellings) {
    FakeSettings store;
    store.Set("Modality WorkList", "Settings", "ResultQueryNumber", "25");
    store.Set("Modality Worklist", "Setting", "EnableStudyUIDGeneration", "1");
    StartupSettings loaded;
    loaded.LoadLate(store);
    EXPECT_EQ(loaded.resultNumber, "25");
    EXPECT_TRUE(loaded.generateStudyUid);

    // The same keys under the other spelling are other settings.
    FakeSettings swapped;
    swapped.Set("Modality Worklist", "Setting", "ResultQueryNumber", "25");
    swapped.Set("Modality WorkList", "Settings", "EnableStudyUIDGeneration", "1");
    loaded.LoadLate(swapped);
    EXPECT_EQ(loaded.resultNumber, "300");
    EXPECT_FALSE(loaded.generateStudyUid);
}

// ---- Connection-string files ---------------------------------------------

class ConnectionFileTest : public ::testing::Test {
protected:
    void WriteFile(const QString& name, const QByteArray& content) {
        QFile file(QDir(home.path()).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    ConnectionMode Selecting(ModeOptions::Option option) {
        ModeOptions options(store);
        options.Click(option);
        return options.ConnectionMode();
    }

    QTemporaryDir home;
    FakeSettings store;
};

TEST_F(ConnectionFileTest, OnlyTheFirstLineIsTheConnectionString) {
    WriteFile("CORVANTE.txt",
              "Driver=SQLite3;Database=/var/lib/his.db\r\nsecond line\r\nthird line\r\n");
    EXPECT_EQ(ReadINI(Selecting(ModeOptions::Corvante), home.path()),
              "Driver=SQLite3;Database=/var/lib/his.db");
    WriteFile("DBServer.txt", "Driver=FreeTDS;Server=his;Port=1433");
    EXPECT_EQ(ReadINI(Selecting(ModeOptions::Talvek), home.path()),
              "Driver=FreeTDS;Server=his;Port=1433");
}

TEST_F(ConnectionFileTest, ByteOrderMarkOfAnEditorIsNotPartOfTheString) {
    WriteFile("CORVANTE.txt",
              "\xEF\xBB\xBF"
              "Driver=SQLite3;Database=/srv/his.db\r\n");
    EXPECT_EQ(ReadINI(Selecting(ModeOptions::Corvante), home.path()),
              "Driver=SQLite3;Database=/srv/his.db");
}

TEST_F(ConnectionFileTest, EachModeHasItsOwnFile) {
    WriteFile("PELTA.txt", "pelta\n");
    WriteFile("ORVELLINE.txt", "orvelline\n");
    EXPECT_EQ(ReadINI(Selecting(ModeOptions::Pelta), home.path()), "pelta");
    EXPECT_EQ(ReadINI(Selecting(ModeOptions::Orvelline), home.path()), "orvelline");
}

TEST_F(ConnectionFileTest, MissingFileThrowsWithItsName) {
    try {
        ReadINI(Selecting(ModeOptions::Pelta), home.path());
        FAIL() << "no error for a missing file";
    } catch (const MwlError& error) {
        EXPECT_TRUE(error.Description().contains("PELTA.txt")) << error.what();
    }
}

TEST_F(ConnectionFileTest, BramwoodsAndNoSelectionReadNoFile) {
    WriteFile("DBServer.txt", "x\n");
    EXPECT_FALSE(ReadINI(Selecting(ModeOptions::Bramwoods), home.path()).has_value());
    EXPECT_FALSE(ReadINI(ConnectionMode::None, home.path()).has_value());
}

// ---- Command line ---------------------------------------------------------

CommandLine Parse(QStringList arguments) {
    arguments.prepend("talvek-mwl");
    return CommandLine::Parse(arguments);
}

TEST(CommandLine, NoOptionsIsTheDesktopProgram) {
    const CommandLine line = Parse({});
    EXPECT_FALSE(line.headless);
    EXPECT_TRUE(line.homeFolder.isEmpty());
    EXPECT_FALSE(line.delaySeconds.has_value());
    EXPECT_TRUE(line.error.isEmpty());
}

TEST(CommandLine, HomeAndDelayInBothForms) {
    const CommandLine spaced = Parse({"--headless", "--home", "/srv/his", "--delay", "3"});
    EXPECT_TRUE(spaced.error.isEmpty()) << spaced.error.toStdString();
    EXPECT_TRUE(spaced.headless);
    EXPECT_EQ(spaced.homeFolder, "/srv/his");
    EXPECT_EQ(spaced.delaySeconds, 3);

    const CommandLine joined = Parse({"--home=/srv/his two", "--delay=0"});
    EXPECT_TRUE(joined.error.isEmpty()) << joined.error.toStdString();
    EXPECT_EQ(joined.homeFolder, "/srv/his two");
    EXPECT_EQ(joined.delaySeconds, 0);
}

TEST(CommandLine, BadArgumentsAreErrors) {
    EXPECT_TRUE(Parse({"--bogus"}).error.contains("--bogus"));
    EXPECT_FALSE(Parse({"--homeward"}).error.isEmpty());
    EXPECT_FALSE(Parse({"--home"}).error.isEmpty());
    EXPECT_FALSE(Parse({"--delay", "soon"}).error.isEmpty());
    EXPECT_FALSE(Parse({"--delay", "-1"}).error.isEmpty());
    EXPECT_FALSE(Parse({"--delay"}).error.isEmpty());
    EXPECT_FALSE(Parse({"--headless", "extra"}).error.isEmpty());
    EXPECT_FALSE(CommandLine::Usage().isEmpty());
}

}  // namespace
