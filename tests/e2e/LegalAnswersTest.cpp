// Whatever a HIS or an order file holds, every answer is valid DICOM. A
// hostile HIS (SQLite, CORVANTE) and hostile order files (BRAMWOODS) hold
// order numbers beyond 32 bits, values far over their VR's length, name
// components with separators of their own, a sex as a word, "\" inside
// single values, control characters and dates that are none. A modality's
// key set query is saved by findscu as received and every match is checked
// by DICOM's own validator (dciodvfy, Debian's dicom3tools): no value and no
// length invalid for its VR, every requested key present, the step item
// naming the query's modality and its step.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ServerProcess.h"

namespace {

const QString kStep = QStringLiteral("ScheduledProcedureStepSequence[0].");

// The lines of dciodvfy's report that say a value breaks its VR; the lines
// about the IOD and DICOMDIR do not apply to a query response.
QStringList InvalidValues(const QString& file) {
    QProcess validator;
    validator.setProcessChannelMode(QProcess::MergedChannels);
    validator.start(QStringLiteral("dciodvfy"), {file});
    if (!validator.waitForFinished(30000)) return {QStringLiteral("dciodvfy did not finish")};
    QStringList invalid;
    for (const QString& line : QString::fromLatin1(validator.readAll()).split(QLatin1Char('\n')))
        if (line.contains(QLatin1String("Value invalid")) ||
            line.contains(QLatin1String("Length invalid")))
            invalid << line;
    return invalid;
}

// The tag a findscu key names ("ScheduledProcedureStepSequence[0].Modality=CR").
DcmTagKey KeyTag(const QString& key) {
    const QString name = key.section(QLatin1Char('='), 0, 0).section(QLatin1Char('.'), -1);
    DcmTag tag;
    DcmTag::findTagFromName(name.toLatin1().constData(), tag);
    return tag;
}

// Every match of the modality key set query for CR: valid for dciodvfy,
// with every requested key, the query's modality and a step ID.
void CheckEveryMatch(const FindOutcome& outcome, const QStringList& keys) {
    ASSERT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    ASSERT_EQ(outcome.files.size(), static_cast<qsizetype>(outcome.matches.size()));
    for (size_t i = 0; i < outcome.matches.size(); ++i) {
        DcmDataset& match = *outcome.matches[i]->getDataset();
        SCOPED_TRACE(Value(match, DCM_AccessionNumber).toStdString());
        const QStringList invalid = InvalidValues(outcome.files[static_cast<qsizetype>(i)]);
        EXPECT_TRUE(invalid.isEmpty()) << invalid.join(QLatin1Char('\n')).toStdString();
        DcmItem* step = StepItem(match);
        ASSERT_NE(step, nullptr);
        for (const QString& key : keys) {
            DcmItem& level = key.startsWith(kStep) ? *step : match;
            EXPECT_TRUE(Has(level, KeyTag(key))) << key.toStdString();
        }
        EXPECT_EQ(Value(*step, DCM_Modality), QByteArray("CR"));
        EXPECT_FALSE(Value(*step, DCM_ScheduledProcedureStepID).isEmpty());
        EXPECT_FALSE(Value(match, DCM_StudyInstanceUID).isEmpty());
    }
}

// The modality key set query for CR, every match checked; the accession
// numbers that came back, sorted.
QStringList AskAndCheckEveryMatch(int port) {
    const QStringList keys = ModalityKeySet(QStringLiteral("CR"));
    FindScu scu(port, keys);
    scu.Start();
    const FindOutcome outcome = scu.Finish();
    CheckEveryMatch(outcome, keys);
    QStringList accessions;
    for (const auto& match : outcome.matches)
        accessions << QString::fromLatin1(Value(*match->getDataset(), DCM_AccessionNumber));
    accessions.sort();
    return accessions;
}

HisOrder Hostile(qint64 id) {
    HisOrder order = HisDatabase::OpenOrders(1).front();
    order.worklistId = id;
    order.patientId = QStringLiteral("P%1").arg(id);
    return order;
}

QList<HisOrder> HostileOrders() {
    QList<HisOrder> orders;
    HisOrder big = Hostile(2147483648);
    big.lastName = QString(202, QLatin1Char('L'));
    big.firstName = QStringLiteral("ACC^X^Y");
    big.middleName = QStringLiteral("A\\B") + QChar(0x01) + QChar(0x1B) + QStringLiteral("=C");
    big.birthDate = QStringLiteral("1980-02-31");
    big.gender = QStringLiteral("male");
    orders << big;
    HisOrder wider = Hostile(4294967296);
    wider.patientId = QString(70, QLatin1Char('7'));
    wider.middleName = QString(60000, QLatin1Char('M'));
    wider.birthDate = QStringLiteral("yesterday");
    wider.gender = QStringLiteral("f");
    wider.created = QStringLiteral("soon");
    orders << wider;
    HisOrder widest = Hostile(123456789012345678);
    widest.gender = QStringLiteral("unknown");
    orders << widest;
    orders << Hostile(2147483647);
    return orders;
}

}  // namespace

TEST(LegalAnswers, HostileHisRowsGoOutAsValidDicomWithExactOrderNumbers) {
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HostileOrders()));
    ASSERT_TRUE(server.Start());
    const QStringList accessions = AskAndCheckEveryMatch(server.Port());
    // An accession number has at most 16 characters: the 18-digit order
    // number goes out cut, and the log names the order whole.
    EXPECT_EQ(accessions,
              (QStringList{"1234567890123456", "2147483647", "2147483648", "4294967296"}));
    EXPECT_TRUE(server.WaitForLog(QStringLiteral(
        "Order 123456789012345678: AccessionNumber (0008,0050), SH: cut to its maximum length.")));
    EXPECT_TRUE(server.WaitForLog(QStringLiteral(
        "Order 2147483648: PatientSex (0010,0040), CS: read as M, F or O, or sent empty.")));
    EXPECT_FALSE(server.ActivityLog().contains(QStringLiteral("1980-02-31")));
    EXPECT_TRUE(server.Stop());
}

TEST(LegalAnswers, HostileOrderFilesGoOutAsValidDicom) {
    QTemporaryDir orders;
    const auto write = [&](const char* name, const QList<QByteArray>& fields) {
        QFile file(orders.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(fields.join('|') + "\r\n");
    };
    QList<QByteArray> hostile(29);
    hostile[0] = QByteArray(70, 'C');
    hostile[7] = "P\\8";
    hostile[9] = QByteArray(202, 'N') + "^" + QByteArray(202, 'G') + "^M^P^S^EXTRA=A=B=C";
    hostile[11] = "19800231";
    hostile[12] = "male";
    hostile[16] = QByteArray(60000, 'A');
    hostile[19] = QByteArray(30, '9');
    hostile[21] = "CHEST" + QByteArray("\x01\x1b", 2) + "PA";
    hostile[23] = "2026-12-03";
    write("HOSTILE.HL7", hostile);
    QList<QByteArray> plain(29);
    plain[7] = "P9";
    plain[9] = "SANTOS^MARIA";
    plain[12] = "f";
    plain[19] = "ACC9";
    plain[23] = "20261203";
    write("PLAIN.HL7", plain);
    ServerProcess server(
        {.modeOption = QStringLiteral("optBramwoods"), .hl7Folder = orders.path()});
    ASSERT_TRUE(server.Start());
    EXPECT_EQ(AskAndCheckEveryMatch(server.Port()),
              (QStringList{QString(16, QLatin1Char('9')), "ACC9"}));
    EXPECT_TRUE(server.WaitForLog(QStringLiteral(
        "Order file HOSTILE.HL7: AccessionNumber (0008,0050), SH: cut to its maximum length.")));
    EXPECT_TRUE(server.Stop());
}
