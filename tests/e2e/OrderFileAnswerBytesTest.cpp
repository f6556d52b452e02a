// The exact bytes of whole answers from order files: every response message
// (command and match) that the server puts on the wire for a few typical
// modality queries over order files with awkward content. The expected bytes
// are a recorded answer of an earlier build (data/order-file-answers.txt), so
// any change in what a modality receives shows here, byte for byte.
//
// To record the file again after an intended change in the answers:
//   MWL_RECORD_ANSWERS=tests/e2e/data/order-file-answers.txt \
//     build/tests/e2e_tests --gtest_filter=OrderFileAnswerBytes.*

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "e2e/DicomPeer.h"
#include "e2e/OrderFileWriter.h"
#include "e2e/RecordingRelay.h"
#include "e2e/ServerProcess.h"

namespace {

const QString kStep = QStringLiteral("ScheduledProcedureStepSequence[0].");

// Every attribute the order-file answer can carry, at the top level.
QStringList EveryOptionalKey() {
    return {kStep + "Modality=",
            "SpecificCharacterSet=",
            "PatientName=",
            "PatientBirthDate=",
            "PatientSex=",
            "PatientAddress=",
            "StudyDate=",
            "ReferencedStudySequence",
            "RequestedProcedurePriority=",
            "PatientTransportArrangements=",
            "AdmissionID=",
            "PatientWeight=",
            "ConfidentialityConstraintOnPatientDataDescription="};
}

struct Query {
    const char* name;
    QStringList keys;
    QStringList options;
};

QList<Query> Queries() {
    const QStringList worklist{QStringLiteral("-W")};
    return {
        {"modality keys", ModalityKeySet(), worklist},
        {"three keys", {kStep + "Modality=", "PatientName=", "PatientID="}, worklist},
        {"every optional key, implicit VR", EveryOptionalKey(), {"-W", "-xi"}},
        {"one patient by ID and name",
         {kStep + "Modality=", "PatientID=300002", "PatientName=OKAFOR^CHIDI^", "PatientSex="},
         worklist},
        {"modality keys again, from the kept lines", ModalityKeySet(), worklist},
    };
}

// Fields 1 to count of an order line; `values` maps field numbers to bytes.
QByteArray Line(const QMap<int, QByteArray>& values, int count = 29) {
    QList<QByteArray> fields(count);
    for (auto it = values.begin(); it != values.end(); ++it) fields[it.key() - 1] = it.value();
    return fields.join('|');
}

QMap<int, QByteArray> Typical(int i) {
    const QByteArray n = QByteArray::number(300000 + i);
    return {{1, "BWH"},
            {2, "ADT"},
            {8, n},
            {10, "OKAFOR^CHIDI^"},
            {12, "19700101"},
            {13, "M"},
            {17, n + " MAIN STREET"},
            {20, "A" + n},
            {22, "CHEST PA AND LATERAL"},
            {24, "20261203"}};
}

// Order files with the content real folders hold, typical and awkward.
void WriteOrders(const QString& folder) {
    const auto write = [&](const char* name, const QByteArray& bytes) {
        ASSERT_TRUE(
            WriteFinishedOrderFile(folder + QLatin1Char('/') + QLatin1String(name), bytes));
    };
    for (int i = 1; i <= 4; ++i)
        write(QByteArray("T" + QByteArray::number(i) + ".HL7").constData(),
              Line(Typical(i)) + "\r\nOBR|1|A" + QByteArray::number(300000 + i) + "\r\n");
    // ISO 8859-1 accents; UTF-8 with a letter outside ISO 8859-1.
    write("A.HL7", Line({{1, "BWH"},
                         {8, "200101"},
                         {10,
                          "PE\xD1"
                          "A^JOS\xC9^"},
                         {12, "19580314"},
                         {13, "M"},
                         {17, "12 CALLE REAL"},
                         {20, "ACC1"},
                         {22, "CHEST PA"},
                         {24, "20261208"}}) +
                       "\r\n");
    write("B.HL7", Line({{1, "BWH"},
                         {8, "200102"},
                         {10, "M\xC3\x9CLLER^J\xC3\x96RG^"},
                         {12, "19611231"},
                         {13, "F"},
                         {17,
                          "UL. \xC5\x81"
                          "AKOWA 3"},
                         {20, "ACC2"},
                         {22, "KNEE"},
                         {24, "20261209"}}) +
                       "\n");
    // A short line; impossible and short dates; blanks around values and
    // odd lengths; a backslash (two values) and values longer than their VR.
    write("C.HL7", Line({{1, "BWC"}, {8, "200103"}, {10, "TAN^WEI^"}, {12, "19800229"}}, 12));
    write("D.HL7", Line({{1, "BWD"},
                         {8, "200104"},
                         {10, "LEE^KIM^"},
                         {12, "19581301"},
                         {20, "ACC4"},
                         {24, "2026120"}}));
    write("E.HL7", Line({{1, "BWE"},
                         {8, " 200105 "},
                         {10, " SMITH ^ JOHN "},
                         {13, "O"},
                         {17, "X"},
                         {22, "HAND LEFT"},
                         {24, "20260101"}}));
    write("F.HL7", Line({{1, "BWF"},
                         {8, "200106"},
                         {10, "A\\B^C"},
                         {20, "ACC-0123456789-LONG"},
                         {22, QByteArray(70, 'E')}}));
    // More fields than 29, a LF line end; a line of empty fields.
    write(
        "G.HL7",
        Line(
            {{1, "BWG"}, {8, "200107"}, {10, "NG^ANH^"}, {20, "ACC7"}, {30, "EXTRA"}, {31, "MORE"}},
            31) +
            "\nSECOND LINE\n");
    write("H.HL7", Line({{8, "200108"}}));
    write("Z-empty.HL7", "");
}

QString Hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex()); }

// One section per query: its name, then one line per response message.
QString Describe(const char* name, const QList<RecordingRelay::Message>& messages) {
    QString text = QStringLiteral("# %1\n").arg(QLatin1String(name));
    for (const auto& message : messages)
        text += (message.command ? QStringLiteral("C ") : QStringLiteral("D ")) +
                Hex(message.bytes) + QLatin1Char('\n');
    return text;
}

QString ExpectedFile() {
    return QStringLiteral(MWL_SOURCE_DIR) +
           QStringLiteral("/tests/e2e/data/order-file-answers.txt");
}

}  // namespace

TEST(OrderFileAnswerBytes, EveryResponseMessageIsTheRecordedOne) {
    QTemporaryDir orders;
    ASSERT_TRUE(orders.isValid());
    WriteOrders(orders.path());
    ServerProcess server(ServerSettings{{}, {}, QStringLiteral("optBramwoods"), orders.path(), {}});
    ASSERT_TRUE(server.Start());

    QString answers;
    for (const Query& query : Queries()) {
        RecordingRelay relay(server.Port());
        ASSERT_NE(relay.Port(), 0);
        const FindOutcome outcome = FindScu::Run(relay.Port(), query.keys, query.options);
        ASSERT_TRUE(outcome.Succeeded()) << query.name << outcome.output.right(2000).toStdString();
        answers += Describe(query.name, RecordingRelay::Messages(relay.ServerBytes()));
    }
    EXPECT_TRUE(server.Stop());

    if (const QByteArray target = qgetenv("MWL_RECORD_ANSWERS"); !target.isEmpty()) {
        QFile file(QString::fromLocal8Bit(target));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(answers.toLatin1());
        GTEST_SKIP() << "recorded into " << target.toStdString();
    }
    QFile file(ExpectedFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << ExpectedFile().toStdString();
    const QStringList expected = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'));
    const QStringList got = answers.split(QLatin1Char('\n'));
    // Line by line, so a failure names the query and message that differ.
    QString section;
    for (qsizetype i = 0; i < std::max(expected.size(), got.size()); ++i) {
        const QString want = expected.value(i), have = got.value(i);
        if (want.startsWith(QLatin1Char('#'))) section = want;
        ASSERT_EQ(have.toStdString(), want.toStdString())
            << "first difference in " << section.toStdString() << ", line " << i + 1;
    }
}
