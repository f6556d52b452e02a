// Which attributes a match carries, at which level, and in which DICOM form.
// One server with a single open order answers every query of this suite.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <QDate>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ServerProcess.h"

namespace {

const QString kStepStartDate =
    QStringLiteral("ScheduledProcedureStepSequence[0].ScheduledProcedureStepStartDate=");

class WorklistAttributes : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = std::make_unique<ServerProcess>();
        HisOrder order;
        order.worklistId = 24001;
        order.created = QStringLiteral("2024-05-06 07:05:00");
        order.patientId = QStringLiteral("100231");
        order.lastName = QStringLiteral("SANTOS");
        order.firstName = QStringLiteral("MARIA");
        order.middleName = std::nullopt;
        order.birthDate = QStringLiteral("1990-11-02");
        order.gender = QStringLiteral("F");
        s_ready = HisDatabase::Create(s_server->HisFile(), {order}) && s_server->Start();
    }
    static void TearDownTestSuite() {
        if (s_ready) EXPECT_TRUE(s_server->Stop());
        s_server.reset();
    }
    void SetUp() override { ASSERT_TRUE(s_ready) << "the server did not start"; }

    // The single match of a query with these keys.
    static std::unique_ptr<DcmFileFormat> OnlyMatch(const QStringList& keys) {
        FindOutcome outcome = FindScu::Run(s_server->Port(), keys);
        EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
        EXPECT_EQ(outcome.matches.size(), 1u);
        if (outcome.matches.size() != 1) return std::make_unique<DcmFileFormat>();
        return std::move(outcome.matches.front());
    }

    static QByteArray Today() { return QDate::currentDate().toString(u"yyyyMMdd").toLatin1(); }

    static inline std::unique_ptr<ServerProcess> s_server;
    static inline bool s_ready = false;
};

}  // namespace

TEST_F(WorklistAttributes, OnlyRequestedAttributesComeBack) {
    const auto match = OnlyMatch(WorklistKeys());
    DcmDataset& response = *match->getDataset();
    EXPECT_EQ(Value(response, DCM_PatientName), QByteArray("SANTOS^MARIA^"));
    EXPECT_EQ(Value(response, DCM_PatientID), QByteArray("100231"));
    for (const DcmTagKey& tag :
         {DCM_PatientBirthDate, DCM_PatientSex, DCM_SpecificCharacterSet, DCM_AccessionNumber,
          DCM_StudyDate, DCM_StudyTime, DCM_ScheduledProcedureStepStartDate,
          DCM_CurrentPatientLocation, DCM_StudyInstanceUID, DCM_AdmissionID})
        EXPECT_FALSE(Has(response, tag)) << tag.toString().c_str();
    DcmItem* step = StepItem(response);
    ASSERT_NE(step, nullptr);
    EXPECT_FALSE(Has(*step, DCM_ScheduledProcedureStepStartDate));
}

TEST_F(WorklistAttributes, PatientDataAndStudyDateInDicomForm) {
    const auto match = OnlyMatch(WorklistKeys(
        {QStringLiteral("PatientBirthDate="), QStringLiteral("PatientSex="),
         QStringLiteral("AccessionNumber="), QStringLiteral("StudyDate="),
         QStringLiteral("StudyInstanceUID="), QStringLiteral("CurrentPatientLocation=")}));
    DcmDataset& response = *match->getDataset();
    EXPECT_EQ(Value(response, DCM_PatientBirthDate), QByteArray("19901102"));
    EXPECT_EQ(Value(response, DCM_PatientSex), QByteArray("F"));
    EXPECT_EQ(Value(response, DCM_AccessionNumber), QByteArray("24001"));
    EXPECT_EQ(Value(response, DCM_StudyDate), QByteArray("20240506"));
    EXPECT_EQ(Value(response, DCM_CurrentPatientLocation), QByteArray("OPD"));
    EXPECT_TRUE(Value(response, DCM_StudyInstanceUID).startsWith("2.25."))
        << Value(response, DCM_StudyInstanceUID).constData();
}

// The order carries no appointment, so the step is scheduled for the moment
// of the query; the date comes back only at the level that asked for it.
TEST_F(WorklistAttributes, StartDateIsTodayAtTheRequestedLevelOnly) {
    const QByteArray before = Today();
    const auto inStep = OnlyMatch(WorklistKeys({kStepStartDate}));
    const auto atTop =
        OnlyMatch(WorklistKeys({QStringLiteral("ScheduledProcedureStepStartDate=")}));
    const QByteArray after = Today();

    DcmDataset& stepResponse = *inStep->getDataset();
    EXPECT_FALSE(Has(stepResponse, DCM_ScheduledProcedureStepStartDate));
    DcmItem* step = StepItem(stepResponse);
    ASSERT_NE(step, nullptr);
    const QByteArray stepDate = Value(*step, DCM_ScheduledProcedureStepStartDate);
    EXPECT_TRUE(stepDate == before || stepDate == after) << stepDate.constData();

    DcmDataset& topResponse = *atTop->getDataset();
    const QByteArray topDate = Value(topResponse, DCM_ScheduledProcedureStepStartDate);
    EXPECT_TRUE(topDate == before || topDate == after) << topDate.constData();
    step = StepItem(topResponse);
    ASSERT_NE(step, nullptr);
    EXPECT_FALSE(Has(*step, DCM_ScheduledProcedureStepStartDate));
}

TEST_F(WorklistAttributes, EveryQueryGetsAFreshStudyInstanceUid) {
    const QStringList keys = WorklistKeys({QStringLiteral("StudyInstanceUID=")});
    const auto first = OnlyMatch(keys);
    const auto second = OnlyMatch(keys);
    const QByteArray one = Value(*first->getDataset(), DCM_StudyInstanceUID);
    const QByteArray two = Value(*second->getDataset(), DCM_StudyInstanceUID);
    EXPECT_FALSE(one.isEmpty());
    EXPECT_NE(one, two);
    EXPECT_LE(one.size(), 64);  // a UI value holds at most 64 characters
}
