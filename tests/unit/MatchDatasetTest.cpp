#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcostrmb.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/MwlError.h"
#include "platform/dicom/DicomDataset.h"
#include "platform/dicom/MatchDataset.h"
#include "platform/dicom/WireValue.h"
#include "worklist/Tags.h"

namespace {

// What the toolkit sends for the dataset on a presentation context of the
// transfer syntax: the reference the encoder must equal byte for byte.
std::string ToolkitBytes(const DicomDataset& dataset, bool explicitVr) {
    DcmDataset& root = *dataset.Root();
    std::string buffer(1 << 20, '\0');
    DcmOutputBufferStream stream(buffer.data(), buffer.size());
    root.transferInit();
    const OFCondition written =
        root.write(stream, explicitVr ? EXS_LittleEndianExplicit : EXS_LittleEndianImplicit,
                   EET_ExplicitLength, nullptr, EGL_recalcGL, EPD_withoutPadding);
    root.transferEnd();
    EXPECT_TRUE(written.good()) << written.text();
    void* data = nullptr;
    offile_off_t length = 0;
    stream.flushBuffer(data, length);
    return std::string(static_cast<const char*>(data), static_cast<size_t>(length));
}

std::string Encoded(const MatchDataset& match, bool explicitVr) {
    std::string bytes;
    match.Encode(explicitVr, bytes);
    return bytes;
}

// Every attribute a response can carry, top level and step item.
const Tag kTopTags[] = {Tags::SpecificCharacterSet,
                        Tags::StudyDate,
                        Tags::StudyTime,
                        Tags::AccessionNumber,
                        Tags::InstitutionName,
                        Tags::ReferringPhysicianName,
                        Tags::StudyDescription,
                        Tags::SeriesDescription,
                        Tags::PatientName,
                        Tags::PatientId,
                        Tags::PatientBirthDate,
                        Tags::PatientSex,
                        Tags::PatientWeight,
                        Tags::PatientAddress,
                        Tags::StudyInstanceUid,
                        Tags::RequestedProcedureDescription,
                        Tags::AdmissionId,
                        Tags::CurrentPatientLocation,
                        Tags::StepStartDate,
                        Tags::StepStartTime,
                        Tags::RequestedProcedureId,
                        Tags::RequestedProcedurePriority,
                        Tags::PatientTransportArrangements,
                        Tags::ConfidentialityConstraint};
const Tag kStepTags[] = {Tags::OtherPatientIds, Tags::RequestingPhysician, Tags::StepStartDate,
                         Tags::StepStartTime};

bool Same(Tag a, Tag b) { return a.group == b.group && a.element == b.element; }

// The value as DicomDataset::Add would write it, without the rules that make
// a match's values legal: the encoder's own test.
void AddAsGiven(MatchDataset& match, Tag tag, const QVariant& value) {
    match.AddWire(tag, WireValue(tag, value));
}

}  // namespace

// The same values through the toolkit and through the encoder give the same
// bytes in both transfer syntaxes: odd and even lengths, blanks at either end,
// several values, ISO 8859-1 and characters beyond it, a NUL inside a value,
// empty and null values, dates and times in every form, sequences with and
// without items.
TEST(MatchDataset, EncodesExactlyAsTheToolkit) {
    const std::vector<QVariant> texts = {QVariant(),
                                         QString(),
                                         QStringLiteral("A"),
                                         QStringLiteral("AB"),
                                         QStringLiteral(" SMITH ^ JOHN "),
                                         QStringLiteral("AB  "),
                                         QStringLiteral("\t1.2 .3\n"),
                                         QStringLiteral("   "),
                                         QStringLiteral("A\\B^C"),
                                         QString::fromUtf8("PEÑA^JOSÉ^"),
                                         QString::fromUtf8("ŁAKOWA"),
                                         QStringLiteral("CUT") + QChar(0) + QStringLiteral("OFF"),
                                         QString(301, QLatin1Char('E')),
                                         42,
                                         QStringLiteral("2.25.123456789")};
    const std::vector<QVariant> dates = {QDate(2026, 12, 3), QStringLiteral("2026-12-03 08:09:10"),
                                         QStringLiteral("20261203-"), QString(), QVariant()};
    const std::vector<QVariant> times = {QTime(8, 9, 10), QStringLiteral("2026-12-03 08:09:10"),
                                         QStringLiteral("0800-1200"), QString(), QVariant()};
    for (size_t round = 0; round < texts.size(); ++round) {
        SCOPED_TRACE(texts[round].toString().toStdString());
        DicomDataset reference;
        MatchDataset match;
        // Added out of tag order on purpose, the step item first.
        DicomDataset referenceStep = reference.AddSequenceItem(Tags::StepSequence);
        MatchDataset& matchStep = match.AddSequenceItem(Tags::StepSequence);
        for (const Tag tag : kStepTags) {
            const bool date = Same(tag, Tags::StepStartDate);
            const bool time = Same(tag, Tags::StepStartTime);
            const QVariant value = date   ? dates[round % dates.size()]
                                   : time ? times[round % times.size()]
                                          : texts[round];
            referenceStep.Add(tag, value);
            AddAsGiven(matchStep, tag, value);
        }
        for (auto it = std::rbegin(kTopTags); it != std::rend(kTopTags); ++it) {
            const Tag tag = *it;
            QVariant value = texts[(round + tag.element) % texts.size()];
            if (Same(tag, Tags::StudyDate) || Same(tag, Tags::PatientBirthDate) ||
                Same(tag, Tags::StepStartDate))
                value = dates[(round + tag.element) % dates.size()];
            if (Same(tag, Tags::StudyTime) || Same(tag, Tags::StepStartTime))
                value = times[(round + tag.element) % times.size()];
            if (Same(tag, Tags::SpecificCharacterSet)) value = QStringLiteral("ISO_IR 100");
            reference.Add(tag, value);
            AddAsGiven(match, tag, value);
        }
        reference.Add(Tags::ReferencedStudySequence, QVariant());
        match.Add(Tags::ReferencedStudySequence, QVariant());
        reference.AddSequenceItem(Tags::ReferencedStudySequence);
        match.AddSequenceItem(Tags::ReferencedStudySequence);
        // A value replaced keeps one attribute.
        reference.Add(Tags::AccessionNumber, QStringLiteral("LATER"));
        match.Add(Tags::AccessionNumber, QStringLiteral("LATER"));
        for (const bool explicitVr : {true, false})
            ASSERT_EQ(Encoded(match, explicitVr), ToolkitBytes(reference, explicitVr))
                << (explicitVr ? "explicit" : "implicit");
        EXPECT_EQ(match.Text(Tags::PatientId), reference.Item(Tags::PatientId).Text());
        EXPECT_EQ(match.Text(Tags::PatientName), reference.Item(Tags::PatientName).Text());
    }
}

// A value too long for a 16-bit length goes as UN in explicit VR, as the
// toolkit writes it.
TEST(MatchDataset, ValueBeyondSixtyFourKilobytesGoesAsUnknown) {
    const QString longText(70000, QLatin1Char('X'));
    DicomDataset reference;
    MatchDataset match;
    reference.Add(Tags::PatientAddress, longText);
    AddAsGiven(match, Tags::PatientAddress, longText);
    EXPECT_EQ(Encoded(match, true), ToolkitBytes(reference, true));
    EXPECT_EQ(Encoded(match, true).substr(4, 2), "UN");
}

TEST(MatchDataset, DeclaresItsCharacterSetOnlyWhenTextLeavesAscii) {
    MatchDataset plain;
    plain.Add(Tags::PatientName, "SANTOS^MARIA^");
    EXPECT_FALSE(plain.ToDataset().Contains(Tags::SpecificCharacterSet));

    MatchDataset accented;
    accented.Add(Tags::PatientId, "100231");
    accented.AddSequenceItem(Tags::StepSequence)
        .Add(Tags::RequestingPhysician, QString::fromUtf8("PEÑA^JOSÉ"));
    const DicomDataset read = accented.ToDataset();
    EXPECT_EQ(read.Item(Tags::SpecificCharacterSet).Text(), "ISO_IR 100");
    EXPECT_EQ(read.SequenceItem(Tags::StepSequence)->Item(Tags::RequestingPhysician).Text(),
              QString::fromUtf8("PEÑA^JOSÉ"));
    EXPECT_FALSE(accented.Contains(Tags::SpecificCharacterSet));  // only on the wire

    // A code string (CS) is not text in a character set.
    MatchDataset code;
    code.AddWire(Tags::PatientSex, QByteArray("\xC9"));
    EXPECT_FALSE(code.ToDataset().Contains(Tags::SpecificCharacterSet));

    MatchDataset declared;
    declared.Add(Tags::SpecificCharacterSet, "ISO_IR 100");
    declared.Add(Tags::PatientName, QString::fromUtf8("MÜLLER"));
    EXPECT_EQ(declared.ToDataset().Item(Tags::SpecificCharacterSet).Values().size(), 1);
}

// A date or time that is none is sent empty, never left out; only text for a
// sequence does not fit at all.
TEST(MatchDataset, DatesThatAreNoneGoOutEmpty) {
    MatchDataset match;
    EXPECT_EQ(match.Add(Tags::StudyDate, QStringLiteral("next week")), ValueFix::NotDateOrTime);
    EXPECT_EQ(match.Add(Tags::StudyTime, QDate(2026, 12, 1)), ValueFix::NotDateOrTime);
    EXPECT_THROW(match.Add(Tags::ReferencedStudySequence, QStringLiteral("x")), MwlError);
    EXPECT_TRUE(match.Contains(Tags::StudyDate));
    EXPECT_EQ(match.Text(Tags::StudyDate), "");
}

// The keys a match lacks come in empty, in tag order, before, between and
// after the ones it holds, which keep their values; the ones added are named
// in order, and a match that lacks nothing is left as it was.
TEST(MatchDataset, MissingKeysAreMergedInEmptyInTagOrder) {
    const MatchDataset empties = MatchDataset::EmptiesOf(
        {Tags::StudyDate, Tags::AccessionNumber, Tags::ReferencedStudySequence,
         Tags::PatientName, Tags::PatientId, Tags::ConfidentialityConstraint});
    MatchDataset match;
    match.Add(Tags::AccessionNumber, QStringLiteral("A1"));
    match.Add(Tags::PatientId, QStringLiteral("P1"));
    match.Add(Tags::PatientSex, QStringLiteral("F"));
    std::vector<Tag> added;
    match.AddMissingFrom(empties, &added);
    const std::vector<Tag> expected = {Tags::StudyDate, Tags::ReferencedStudySequence,
                                       Tags::PatientName, Tags::ConfidentialityConstraint};
    ASSERT_EQ(added.size(), expected.size());
    for (size_t i = 0; i < added.size(); ++i) EXPECT_TRUE(Same(added[i], expected[i])) << i;
    EXPECT_EQ(match.Text(Tags::AccessionNumber), "A1");
    EXPECT_EQ(match.Text(Tags::PatientId), "P1");
    EXPECT_EQ(match.Text(Tags::PatientSex), "F");
    EXPECT_EQ(match.Text(Tags::PatientName), "");

    // As if every key had been added one by one: the same bytes.
    MatchDataset oneByOne;
    oneByOne.Add(Tags::AccessionNumber, QStringLiteral("A1"));
    oneByOne.Add(Tags::PatientId, QStringLiteral("P1"));
    oneByOne.Add(Tags::PatientSex, QStringLiteral("F"));
    for (const Tag tag : expected)
        if (Same(tag, Tags::ReferencedStudySequence))
            oneByOne.AddEmptySequence(tag);
        else
            oneByOne.Add(tag, QVariant());
    EXPECT_EQ(Encoded(match, true), Encoded(oneByOne, true));

    const std::string before = Encoded(match, false);
    added.clear();
    match.AddMissingFrom(empties, &added);
    EXPECT_TRUE(added.empty());
    EXPECT_EQ(Encoded(match, false), before);
}
