// Worklist items built from scripted order records. FakeHis and FakeRecordset
// stand in for the SQL Server HIS of the TALVEK and PELTA modes, which cannot
// run on this machine.

#include <gtest/gtest.h>

#include "Fakes.h"
#include "worklist/MatchFill.h"
#include "worklist/Tags.h"

namespace {

constexpr Tag kStationAeTitle = Tags::ScheduledStationAeTitle;
constexpr Tag kStepId = Tags::StepId;

// Every attribute the builder can return, asked at the top level and again in
// the step item, so each one shows where it lands.
const std::initializer_list<Tag> kEveryTopKey = {Tags::SpecificCharacterSet,
                                                 Tags::AccessionNumber,
                                                 Tags::InstitutionName,
                                                 Tags::PatientName,
                                                 Tags::PatientId,
                                                 Tags::StudyInstanceUid,
                                                 Tags::StudyDescription,
                                                 Tags::PatientBirthDate,
                                                 Tags::PatientSex,
                                                 Tags::OtherPatientIds,
                                                 Tags::RequestingPhysician,
                                                 Tags::RequestedProcedureId,
                                                 Tags::RequestedProcedureDescription,
                                                 Tags::ReferringPhysicianName,
                                                 Tags::StudyDate,
                                                 Tags::StudyTime,
                                                 Tags::StepStartDate,
                                                 Tags::StepStartTime,
                                                 Tags::CurrentPatientLocation,
                                                 Tags::ReferencedStudySequence,
                                                 Tags::RequestedProcedurePriority,
                                                 Tags::PatientTransportArrangements,
                                                 Tags::AdmissionId,
                                                 Tags::PatientWeight,
                                                 Tags::ConfidentialityConstraint};
const std::initializer_list<Tag> kEveryStepKey = {Tags::StepStartDate,
                                                  Tags::StepStartTime,
                                                  Tags::OtherPatientIds,
                                                  Tags::RequestingPhysician,
                                                  Tags::PatientName,
                                                  kStationAeTitle,
                                                  kStepId};

Row TalvekRow() {
    return {{"RequestNum", 4711},
            {"HN", "123456"},
            {"MLN", "  DELA CRUZ "},
            {"MFN", "JUAN"},
            {"MMN", "SANTOS"},
            {"MASBirthDate", "1970-05-17"},
            {"MASS", "M"},
            {"CASBirthDate", "1980-01-02"},
            {"CASSex", "F"},
            {"IDN", "A-77"},
            {"DocName", "REYES^ANA"},
            {"ProcCode", "XR-CHEST"},
            {"ProcDesc", "CHEST PA"},
            {"TranD", QDateTime(QDate(2026, 12, 1), QTime(14, 5, 9))}};
}

// The columns of the PELTA base statement (the doctor's alias is upper case there).
Row PeltaRow() {
    return {{"RequestNum", 88},
            {"TranD", "2026-12-01 14:05:09"},
            {"HN", "T900"},
            {"MLN", "SANTOS"},
            {"MFN", "MARIA"},
            {"MMN", "L"},
            {"IDN", "ENC-5"},
            {"MASBirthDate", "1990-07-08"},
            {"MASS", "F"},
            {"ProcCode", "US-ABD"},
            {"ProcDesc", "ABDOMEN US"},
            {"DOCNAME", "LIM,ROSA C"}};
}

// CORVANTE delivers these columns only.
Row CorvanteRow() {
    return {{"RequestNum", 31},
            {"TranD", "2026-11-30 08:00:00"},
            {"HN", "C-31"},
            {"MLN", "DOE"},
            {"MFN", "JANE"},
            {"MMN", "Q"},
            {"MASBirthDate", "1980-02-03"},
            {"MASS", "F"}};
}

// ORVELLINE has no IDN of its own; the extra column checks it is not used.
Row OrvellineRow() {
    return {{"RequestNum", "Q-17"},
            {"HN", "OR-17"},
            {"MFN", "ANA"},
            {"MMN", QVariant()},
            {"MLN", "REYES"},
            {"MASS", QVariant()},
            {"MASBirthDate", "2001-03-04"},
            {"DocName", QVariant()},
            {"ProcCode", "CT-HEAD"},
            {"ProcDesc", "CT HEAD PLAIN"},
            {"TranD", "2026-12-02 16:30:00"},
            {"Encounter", "E1"},
            {"IDN", "NOT-FOR-ORVELLINE"}};
}

QString TextAt(const DicomDataset& dataset, Tag tag) { return dataset.Item(tag).Text(); }

class ResponseBuilderTest : public ::testing::Test {
protected:
    struct Built {
        DicomDataset response;
        DicomDataset step;
        NameParts name;
    };

    // With `query`, the record is one more of that query's.
    Built Build(ConnectionMode mode, const Row& row, const DicomDataset& request,
                const RequestedAttributes* query = nullptr) {
        const FakeRecordset record({row});
        const std::optional<DicomDataset> requestStep = request.SequenceItem(Tags::StepSequence);
        const RequestKeys keys{request, *requestStep, requestStep->Item(Tags::Modality).Text()};
        const QuerySnapshot settings = fake.Snapshot();
        FakeQueryConnection connection(request);
        const QueryRun run{connection, keys, settings, fake.log, fake.resources};
        const RequestedAttributes own(fake.log, settings.switches.showRequests, request,
                                      *requestStep);
        const RequestedAttributes& requested = query ? *query : own;
        const WorklistSource& source = SourceFor(mode);
        MatchFill fill(run, source, record, requested);
        source.FillMatch(fill);
        fill.AnswerTheRest();
        Built built;
        built.name = fill.Name();
        // As the toolkit reads the match back from its bytes.
        built.response = fill.TakeResponse().ToDataset();
        built.step = *built.response.SequenceItem(Tags::StepSequence);
        return built;
    }

    Built BuildAll(ConnectionMode mode, const Row& row) {
        return Build(mode, row, MakeRequest(kEveryTopKey, kEveryStepKey));
    }

    FakeServices fake;
};

TEST_F(ResponseBuilderTest, TalvekAnswersEachRequestedAttributeAtItsLevel) {
    const Built built = BuildAll(ConnectionMode::Talvek, TalvekRow());
    const DicomDataset& top = built.response;
    const DicomDataset& step = built.step;

    EXPECT_EQ(TextAt(top, Tags::SpecificCharacterSet), "ISO_IR 100");
    EXPECT_EQ(TextAt(top, Tags::AccessionNumber), "4711");
    EXPECT_EQ(TextAt(top, Tags::InstitutionName), "TALVEK");
    EXPECT_EQ(TextAt(top, Tags::PatientName), "DELA CRUZ^JUAN^SANTOS");
    EXPECT_EQ(TextAt(top, Tags::PatientId), "123456");
    EXPECT_EQ(TextAt(top, Tags::StudyInstanceUid), "1.2.3.1");
    EXPECT_EQ(TextAt(top, Tags::StudyDescription), "CHEST PA");
    EXPECT_EQ(TextAt(top, Tags::PatientBirthDate), "19700517");
    EXPECT_EQ(TextAt(top, Tags::PatientSex), "M");
    EXPECT_EQ(TextAt(top, Tags::RequestedProcedureId), "XR-CHEST");
    EXPECT_EQ(TextAt(top, Tags::RequestedProcedureDescription), "CHEST PA");
    EXPECT_EQ(TextAt(top, Tags::ReferringPhysicianName), "REYES^ANA");
    EXPECT_EQ(TextAt(top, Tags::StudyDate), "20261201");
    EXPECT_EQ(TextAt(top, Tags::StudyTime), "140509");
    EXPECT_EQ(TextAt(top, Tags::StepStartDate), "20261201");
    EXPECT_EQ(TextAt(top, Tags::StepStartTime), "140509");
    EXPECT_EQ(TextAt(top, Tags::AdmissionId), "A-77");
    // Values that only belong in the step item, or only to CORVANTE: asked
    // for, so answered, but empty.
    for (const Tag tag :
         {Tags::OtherPatientIds, Tags::RequestingPhysician, Tags::CurrentPatientLocation}) {
        EXPECT_TRUE(top.Contains(tag)) << tag.group << "," << tag.element;
        EXPECT_EQ(TextAt(top, tag), "") << tag.group << "," << tag.element;
    }
    // The fixed tail: present and empty.
    for (const Tag tag : {Tags::ReferencedStudySequence, Tags::RequestedProcedurePriority,
                          Tags::PatientTransportArrangements, Tags::PatientWeight,
                          Tags::ConfidentialityConstraint}) {
        EXPECT_TRUE(top.Contains(tag)) << tag.group << "," << tag.element;
        EXPECT_TRUE(top.Item(tag).IsNull()) << tag.group << "," << tag.element;
    }

    EXPECT_EQ(TextAt(step, Tags::StepStartDate), "20261201");
    EXPECT_EQ(TextAt(step, Tags::StepStartTime), "140509");
    EXPECT_EQ(TextAt(step, Tags::OtherPatientIds), "A-77");
    EXPECT_EQ(TextAt(step, Tags::RequestingPhysician), "REYES^ANA");
    // What names the step: the modality the statement was for, the AE title
    // the query names (none here) and the order number.
    EXPECT_EQ(TextAt(step, Tags::Modality), "CR");
    EXPECT_TRUE(step.Contains(kStationAeTitle));
    EXPECT_EQ(TextAt(step, kStationAeTitle), "");
    EXPECT_EQ(TextAt(step, kStepId), "4711");
    EXPECT_EQ(TextAt(step, Tags::PatientName), "");

    EXPECT_EQ(built.name.last, "DELA CRUZ");
    EXPECT_EQ(built.name.first, "JUAN");
    EXPECT_EQ(built.name.middle, "SANTOS");
    EXPECT_TRUE(fake.his.statements.isEmpty());
}

// Exactly what the request asks for comes back; a key the mode has no value
// for comes back empty.
TEST_F(ResponseBuilderTest, OnlyRequestedAttributesComeBackAndEveryOneOfThem) {
    constexpr Tag kOtherPatientNames{0x0010, 0x1001};
    constexpr Tag kPerformingPhysician{0x0040, 0x0006};
    const Built built =
        Build(ConnectionMode::Talvek, TalvekRow(),
              MakeRequest({Tags::PatientName, kOtherPatientNames}, {kPerformingPhysician}));
    const std::vector<DicomAttribute> attributes = built.response.Attributes();
    ASSERT_EQ(attributes.size(), 3u);
    EXPECT_EQ(attributes[0].Description(), "PatientName");
    EXPECT_EQ(attributes[1].Description(), "OtherPatientNames");
    EXPECT_EQ(attributes[2].Description(), "ScheduledProcedureStepSequence");
    EXPECT_TRUE(attributes[1].IsNull());
    // The request's step item holds its modality, which comes back too.
    const std::vector<DicomAttribute> step = built.step.Attributes();
    ASSERT_EQ(step.size(), 2u);
    EXPECT_EQ(step[0].Description(), "Modality");
    EXPECT_EQ(step[1].Description(), "ScheduledPerformingPhysicianName");
    EXPECT_TRUE(step[1].IsNull());
}

TEST_F(ResponseBuilderTest, StartDateAndTimeOnlyAtTheLevelAsked) {
    const Built inStep = Build(ConnectionMode::Talvek, TalvekRow(), MakeRequest({}, {Tags::StepStartDate}));
    EXPECT_FALSE(inStep.response.Contains(Tags::StepStartDate));
    EXPECT_EQ(TextAt(inStep.step, Tags::StepStartDate), "20261201");

    const Built atTop = Build(ConnectionMode::Talvek, TalvekRow(), MakeRequest({Tags::StepStartTime}, {}));
    EXPECT_EQ(TextAt(atTop.response, Tags::StepStartTime), "140509");
    EXPECT_FALSE(atTop.step.Contains(Tags::StepStartTime));
}

TEST_F(ResponseBuilderTest, TalvekClinicNumbersTakeTheClinicPatientData) {
    Row clinic = TalvekRow();
    clinic["HN"] = "T123";
    const Built fromClinic = BuildAll(ConnectionMode::Talvek, clinic);
    EXPECT_EQ(TextAt(fromClinic.response, Tags::PatientBirthDate), "19800102");
    EXPECT_EQ(TextAt(fromClinic.response, Tags::PatientSex), "F");

    Row lowerCase = TalvekRow();
    lowerCase["HN"] = "t123";
    const Built fromMain = BuildAll(ConnectionMode::Talvek, lowerCase);
    EXPECT_EQ(TextAt(fromMain.response, Tags::PatientBirthDate), "19700517");
    EXPECT_EQ(TextAt(fromMain.response, Tags::PatientSex), "M");
}

TEST_F(ResponseBuilderTest, PeltaAlwaysTakesTheMainPatientData) {
    const Built built = BuildAll(ConnectionMode::Pelta, PeltaRow());
    const DicomDataset& top = built.response;
    EXPECT_EQ(TextAt(top, Tags::InstitutionName), "PELTA");
    EXPECT_EQ(TextAt(top, Tags::PatientId), "T900");
    EXPECT_EQ(TextAt(top, Tags::PatientBirthDate), "19900708");
    EXPECT_EQ(TextAt(top, Tags::PatientSex), "F");
    EXPECT_EQ(TextAt(top, Tags::ReferringPhysicianName), "LIM,ROSA C");
    EXPECT_EQ(TextAt(top, Tags::StudyDescription), "ABDOMEN US");
    EXPECT_EQ(TextAt(top, Tags::StudyDate), "20261201");
    EXPECT_EQ(TextAt(top, Tags::StudyTime), "140509");
    EXPECT_EQ(TextAt(top, Tags::AdmissionId), "ENC-5");
    EXPECT_EQ(TextAt(built.step, Tags::OtherPatientIds), "ENC-5");
    EXPECT_EQ(TextAt(built.step, Tags::RequestingPhysician), "LIM,ROSA C");
}

TEST_F(ResponseBuilderTest, CorvanteSchedulesForNowWithoutProcedureData) {
    fake.clock.now = QDateTime(QDate(2027, 1, 15), QTime(23, 45, 1));
    const Built built = BuildAll(ConnectionMode::Corvante, CorvanteRow());
    const DicomDataset& top = built.response;
    EXPECT_EQ(TextAt(top, Tags::InstitutionName), "CORVANTE");
    EXPECT_EQ(TextAt(top, Tags::PatientName), "DOE^JANE^Q");
    EXPECT_EQ(TextAt(top, Tags::PatientBirthDate), "19800203");
    EXPECT_EQ(TextAt(top, Tags::PatientSex), "F");
    EXPECT_EQ(TextAt(top, Tags::StudyDate), "20261130");
    EXPECT_EQ(TextAt(top, Tags::StudyTime), "234501");
    EXPECT_EQ(TextAt(top, Tags::StepStartDate), "20270115");
    EXPECT_EQ(TextAt(top, Tags::StepStartTime), "234501");
    EXPECT_EQ(TextAt(built.step, Tags::StepStartDate), "20270115");
    EXPECT_EQ(TextAt(built.step, Tags::StepStartTime), "234501");
    EXPECT_EQ(TextAt(top, Tags::CurrentPatientLocation), "OPD");
    // No procedure code: the order number identifies the procedure.
    EXPECT_EQ(TextAt(top, Tags::RequestedProcedureId), "31");
    // No procedure data in this mode: asked for, so answered, but empty.
    for (const Tag tag : {Tags::StudyDescription, Tags::RequestedProcedureDescription,
                          Tags::ReferringPhysicianName, Tags::AdmissionId})
        EXPECT_EQ(TextAt(top, tag), "") << tag.group << "," << tag.element;
    EXPECT_EQ(TextAt(built.step, Tags::OtherPatientIds), "");
    EXPECT_EQ(TextAt(built.step, Tags::RequestingPhysician), "");
}

TEST_F(ResponseBuilderTest, OrvellineReadsNullTextAsEmptyAndHasNoAdmissionId) {
    fake.switches.trace = true;
    const Built built = BuildAll(ConnectionMode::Orvelline, OrvellineRow());
    const DicomDataset& top = built.response;
    EXPECT_EQ(TextAt(top, Tags::InstitutionName), "ORVELLINE");
    EXPECT_EQ(TextAt(top, Tags::AccessionNumber), "Q-17");
    EXPECT_EQ(TextAt(top, Tags::PatientName), "REYES^ANA^");
    EXPECT_TRUE(top.Contains(Tags::PatientSex));
    EXPECT_EQ(TextAt(top, Tags::PatientSex), "");
    EXPECT_TRUE(top.Contains(Tags::ReferringPhysicianName));
    EXPECT_EQ(TextAt(top, Tags::ReferringPhysicianName), "");
    EXPECT_EQ(TextAt(top, Tags::RequestedProcedureId), "CT-HEAD");
    EXPECT_EQ(TextAt(top, Tags::StudyDescription), "CT HEAD PLAIN");
    EXPECT_EQ(TextAt(top, Tags::StudyTime), "163000");
    EXPECT_EQ(TextAt(built.step, Tags::StepStartDate), "20261202");
    EXPECT_EQ(TextAt(top, Tags::AdmissionId), "");
    EXPECT_EQ(TextAt(built.step, Tags::OtherPatientIds), "");
    EXPECT_TRUE(built.step.Contains(Tags::RequestingPhysician));
    EXPECT_TRUE(fake.log.Text().contains(FakeLog::Stamped("orvelline")));
}

TEST_F(ResponseBuilderTest, OrvellineTraceOffWritesNothing) {
    BuildAll(ConnectionMode::Orvelline, OrvellineRow());
    EXPECT_FALSE(fake.log.Text().contains("orvelline"));
}

TEST_F(ResponseBuilderTest, EnyeReplacedOnlyWhenSwitchedOn) {
    Row row = TalvekRow();
    row["MLN"] = QStringLiteral(u"PEÑA");
    row["MFN"] = QStringLiteral(u"JOSÉ");
    row["MMN"] = QStringLiteral(u"Muñoz");
    const DicomDataset request = MakeRequest({Tags::PatientName}, {});

    fake.switches.replaceEnye = true;
    const Built replaced = Build(ConnectionMode::Talvek, row, request);
    EXPECT_EQ(TextAt(replaced.response, Tags::PatientName), QStringLiteral(u"PENA^JOSÉ^Munoz"));
    EXPECT_EQ(replaced.name.last, "PENA");

    fake.switches.replaceEnye = false;
    row["MMN"] = QString();
    const Built kept = Build(ConnectionMode::Talvek, row, request);
    EXPECT_EQ(TextAt(kept.response, Tags::PatientName), QStringLiteral(u"PEÑA^JOSÉ^"));
}

TEST_F(ResponseBuilderTest, NullNamePartsReadAsEmpty) {
    const DicomDataset request = MakeRequest({Tags::PatientName}, {});
    Row row = TalvekRow();
    row["MMN"] = QVariant();
    EXPECT_EQ(TextAt(Build(ConnectionMode::Talvek, row, request).response, Tags::PatientName),
              "DELA CRUZ^JUAN^");
    row["MLN"] = QVariant();
    row["MFN"] = QVariant();
    const Built built = Build(ConnectionMode::Talvek, row, request);
    EXPECT_EQ(TextAt(built.response, Tags::PatientName), "^^");
    EXPECT_EQ(built.name.last, "");
}

TEST_F(ResponseBuilderTest, UnusableOrderDateFailsTheRecord) {
    for (const ConnectionMode mode :
         {ConnectionMode::Talvek, ConnectionMode::Pelta, ConnectionMode::Orvelline}) {
        for (const QVariant& trand :
             {QVariant(), QVariant(QStringLiteral("soon")), QVariant(QStringLiteral(""))}) {
            SCOPED_TRACE((SourceFor(mode).Name() + " TranD=" + trand.toString()).toStdString());
            Row row = mode == ConnectionMode::Orvelline ? OrvellineRow() : TalvekRow();
            row["TranD"] = trand;
            // Fails even when no date is asked for.
            EXPECT_THROW(Build(mode, row, MakeRequest({Tags::PatientName}, {})), MwlError);
        }
    }
}

TEST_F(ResponseBuilderTest, CorvanteNeedsNoOrderDate) {
    Row row = CorvanteRow();
    row["TranD"] = QVariant();
    const Built built = Build(ConnectionMode::Corvante, row, MakeRequest({Tags::StudyDate}, {}));
    EXPECT_TRUE(built.response.Contains(Tags::StudyDate));
    EXPECT_TRUE(built.response.Item(Tags::StudyDate).IsNull());
}

TEST_F(ResponseBuilderTest, MissingFieldFailsTheRecord) {
    Row row = TalvekRow();
    row.remove("DocName");
    EXPECT_THROW(Build(ConnectionMode::Talvek, row, MakeRequest({Tags::PatientName}, {})), MwlError);
    Row noHn = CorvanteRow();
    noHn.remove("HN");
    EXPECT_THROW(Build(ConnectionMode::Corvante, noHn, MakeRequest({Tags::PatientName}, {})), MwlError);
}

TEST_F(ResponseBuilderTest, StudyUidIsFreshForEveryRecord) {
    const DicomDataset request = MakeRequest({Tags::StudyInstanceUid}, {});
    const QString first =
        TextAt(Build(ConnectionMode::Talvek, TalvekRow(), request).response, Tags::StudyInstanceUid);
    const QString second =
        TextAt(Build(ConnectionMode::Talvek, TalvekRow(), request).response, Tags::StudyInstanceUid);
    EXPECT_EQ(first, "1.2.3.1");
    EXPECT_EQ(second, "1.2.3.2");
    EXPECT_TRUE(fake.his.statements.isEmpty());
}

TEST_F(ResponseBuilderTest, ShowRequestsEchoesEachReturnedValue) {
    const DicomDataset request = MakeRequest({Tags::PatientName, Tags::PatientId}, {});
    fake.switches.showRequests = true;
    Build(ConnectionMode::Talvek, TalvekRow(), request);
    EXPECT_EQ(fake.log.Text(),
              "returning: 16 16 DELA CRUZ^JUAN^SANTOS\r\nreturning: 16 32 123456\r\n"
              "returning: 8 96 CR\r\n");

    fake.log.Replace(QString());
    fake.switches.showRequests = false;
    Build(ConnectionMode::Talvek, TalvekRow(), request);
    EXPECT_EQ(fake.log.Text(), "");
}

// A failure of one attribute is logged at the top with its value and the
// record goes on.
TEST_F(ResponseBuilderTest, ValueThatCannotBeAddedIsLoggedOnTopAndTheRecordGoesOn) {
    fake.log.Replace("CR\r\n");
    const DicomDataset request = MakeRequest({Tags::ReferencedStudySequence}, {});
    const RequestedAttributes requested(fake.log, false);
    MatchDataset match;
    EXPECT_EQ(requested.AddIfRequested(match, request, Tags::ReferencedStudySequence, "x"), 0u);
    const QStringList lines = fake.log.Lines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(" 8 4368 x")) << lines[0].toStdString();
    EXPECT_FALSE(lines[0].startsWith(" 8 4368")) << "the line starts with the error's description";
    EXPECT_TRUE(fake.log.Text().endsWith("\r\nCR\r\n"));
}

// Whatever the HIS holds, every value goes out legal for its VR and every
// requested key stays; each change is logged once per order and attribute in
// a query, naming both and never the value.
TEST_F(ResponseBuilderTest, HostileValuesGoOutLegalAndEachChangeIsLoggedOnce) {
    Row row = TalvekRow();
    row["RequestNum"] = "4294967296";
    row["MLN"] = "BIG";
    row["MFN"] = "ACC";
    row["MMN"] = "X^Y=Z";
    row["MASBirthDate"] = "1980-02-31";
    row["MASS"] = "male";
    row["IDN"] = QStringLiteral("A\\B") + QChar(1);
    row["ProcCode"] = QVariant();
    row["ProcDesc"] = QString(70, QLatin1Char('D')) + QChar(0x1B);
    row["DocName"] = QString(202, QLatin1Char('N')) + QStringLiteral("^LUIS");
    const DicomDataset request = MakeRequest(kEveryTopKey, kEveryStepKey, "cr");
    const RequestedAttributes query(fake.log, false, request,
                                    *request.SequenceItem(Tags::StepSequence));
    const Built built = Build(ConnectionMode::Talvek, row, request, &query);
    Build(ConnectionMode::Talvek, row, request, &query);  // the same order again

    const DicomDataset& top = built.response;
    EXPECT_EQ(TextAt(top, Tags::AccessionNumber), "4294967296");
    EXPECT_EQ(TextAt(top, Tags::PatientName), "BIG^ACC^X Y Z");
    EXPECT_TRUE(top.Contains(Tags::PatientBirthDate));
    EXPECT_EQ(TextAt(top, Tags::PatientBirthDate), "");
    EXPECT_EQ(TextAt(top, Tags::PatientSex), "M");
    EXPECT_EQ(TextAt(top, Tags::AdmissionId), "A/B");
    EXPECT_EQ(TextAt(top, Tags::StudyDescription), QString(64, QLatin1Char('D')));
    EXPECT_EQ(TextAt(top, Tags::ReferringPhysicianName), QString(64, QLatin1Char('N')));
    EXPECT_EQ(TextAt(top, Tags::RequestedProcedureId), "4294967296");
    EXPECT_EQ(built.step.Item(Tags::OtherPatientIds).Values(), (QStringList{"A", "B"}));
    EXPECT_EQ(TextAt(built.step, Tags::Modality), "CR");
    EXPECT_EQ(TextAt(built.step, kStepId), "4294967296");

    const QString log = fake.log.Text();
    EXPECT_EQ(log.count(QStringLiteral("Order 4294967296: ")), 9) << log.toStdString();
    EXPECT_TRUE(log.contains(FakeLog::Stamped(
        "Order 4294967296: PatientSex (0010,0040), CS: read as M, F or O, or sent empty.")));
    EXPECT_TRUE(log.contains(FakeLog::Stamped(
        "Order 4294967296: PatientBirthDate (0010,0030), DA: not a real date or time, sent "
        "empty.")));
    EXPECT_TRUE(log.contains(FakeLog::Stamped(
        "Order 4294967296: StudyDescription (0008,1030), LO: cut to its maximum length; "
        "control characters removed.")));
    for (const char* value : {"male", "1980-02-31", "X^Y", "NNNN", "DDDD"})
        EXPECT_FALSE(log.contains(QLatin1String(value))) << value;
}

}  // namespace
