#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "Fakes.h"
#include "platform/dicom/CharacterSet.h"
#include "platform/dicom/DicomDataset.h"
#include "worklist/Tags.h"

namespace {

// The bytes the toolkit holds for an attribute, i.e. what goes on the wire.
std::string WireValue(const DicomDataset& dataset, Tag tag) {
    OFString value;
    dataset.Root()->findAndGetOFStringArray(DcmTagKey(tag.group, tag.element), value);
    return std::string(value.c_str(), value.length());
}

QDateTime Day(int y, int m, int d) { return QDateTime(QDate(y, m, d), QTime(0, 0)); }
QDateTime At(int h, int m, int s = 0) { return DicomAttribute::ZeroDay(QTime(h, m, s)); }

const QDateTime kLowDate = Day(1900, 1, 1);
const QDateTime kHighDate = Day(2100, 12, 31);
const QDateTime kLowTime = At(0, 0);
const QDateTime kHighTime = At(23, 59, 59);

}  // namespace

TEST(DicomAttribute, AbsentEmptyAndValuedAreKeptApart) {
    DicomDataset dataset;
    dataset.Add(Tags::PatientName, QVariant());
    dataset.Add(Tags::PatientId, QStringLiteral("H-42"));

    const DicomAttribute absent = dataset.Item(Tags::AccessionNumber);
    EXPECT_FALSE(absent.Exists());
    EXPECT_FALSE(dataset.Contains(Tags::AccessionNumber));
    EXPECT_TRUE(absent.IsNull());
    EXPECT_FALSE(absent.Value().has_value());
    EXPECT_EQ(absent.Text(), QString());

    const DicomAttribute empty = dataset.Item(Tags::PatientName);
    EXPECT_TRUE(empty.Exists());
    EXPECT_TRUE(dataset.Contains(Tags::PatientName));
    EXPECT_TRUE(empty.IsNull());
    EXPECT_FALSE(empty.Value().has_value());

    const DicomAttribute valued = dataset.Item(Tags::PatientId);
    EXPECT_TRUE(valued.Exists());
    EXPECT_FALSE(valued.IsNull());
    ASSERT_TRUE(valued.Value().has_value());
    EXPECT_EQ(*valued.Value(), QStringLiteral("H-42"));
    EXPECT_EQ(valued.Group(), 0x0010);
    EXPECT_EQ(valued.Element(), 0x0020);
}

TEST(DicomAttribute, MultipleValues) {
    DicomDataset dataset;
    dataset.Add(Tags::Modality, QStringLiteral("CR\\MR\\CT"));
    const DicomAttribute modality = dataset.Item(Tags::Modality);
    EXPECT_TRUE(modality.IsMultiValued());
    EXPECT_EQ(modality.Values(), (QStringList{"CR", "MR", "CT"}));
    EXPECT_EQ(modality.Text(), QStringLiteral("CR\\MR\\CT"));

    dataset.Add(Tags::Modality, QStringLiteral("CR"));
    EXPECT_FALSE(dataset.Item(Tags::Modality).IsMultiValued());
    EXPECT_EQ(dataset.Item(Tags::Modality).Values(), QStringList{"CR"});
    EXPECT_TRUE(dataset.Item(Tags::PatientName).Values().isEmpty());
}

// NUL bytes at the end of a value are padding, as trailing spaces are.
TEST(DicomAttribute, TrailingNulPaddingIsNoPartOfTheValue) {
    auto request = std::make_unique<DcmDataset>();
    request->putAndInsertString(DCM_PatientID, "P7\0\0", Uint32{4});
    request->putAndInsertString(DCM_AccessionNumber, "A1\0\\B2\0", Uint32{7});
    request->putAndInsertString(DCM_ScheduledProcedureStepStartDate, "20261201\0\0", Uint32{10});
    const DicomDataset dataset(std::move(request));
    EXPECT_EQ(dataset.Item(Tags::PatientId).Text(), QStringLiteral("P7"));
    EXPECT_EQ(dataset.Item(Tags::AccessionNumber).Values(), (QStringList{"A1", "B2"}));
    EXPECT_EQ(dataset.Item(Tags::StepStartDate).RangeStart(kLowDate), Day(2026, 12, 1));
}

TEST(DicomAttribute, DateRangeEnds) {
    DicomDataset request;
    PutRaw(request, Tags::StudyDate, "20261201-20261205");
    PutRaw(request, Tags::StepStartDate, "-20261205");
    PutRaw(request, Tags::PatientBirthDate, "20261201-");

    const DicomAttribute both = request.Item(Tags::StudyDate);
    EXPECT_EQ(both.RangeStart(kLowDate), Day(2026, 12, 1));
    EXPECT_EQ(both.RangeEnd(kHighDate), Day(2026, 12, 5));

    const DicomAttribute openStart = request.Item(Tags::StepStartDate);
    EXPECT_EQ(openStart.RangeStart(kLowDate), kLowDate);
    EXPECT_EQ(openStart.RangeEnd(kHighDate), Day(2026, 12, 5));

    const DicomAttribute openEnd = request.Item(Tags::PatientBirthDate);
    EXPECT_EQ(openEnd.RangeStart(kLowDate), Day(2026, 12, 1));
    EXPECT_EQ(openEnd.RangeEnd(kHighDate), kHighDate);
}

TEST(DicomAttribute, SingleDateAndEmptyOrAbsentKeys) {
    DicomDataset request;
    PutRaw(request, Tags::StudyDate, "20261201");
    request.Add(Tags::StepStartDate, QVariant());

    EXPECT_EQ(request.Item(Tags::StudyDate).RangeStart(kLowDate), Day(2026, 12, 1));
    EXPECT_EQ(request.Item(Tags::StudyDate).RangeEnd(kHighDate), Day(2026, 12, 1));
    EXPECT_EQ(request.Item(Tags::StepStartDate).RangeStart(kLowDate), kLowDate);
    EXPECT_EQ(request.Item(Tags::StepStartDate).RangeEnd(kHighDate), kHighDate);
    EXPECT_EQ(request.Item(Tags::PatientBirthDate).RangeStart(kLowDate), kLowDate);
    EXPECT_EQ(request.Item(Tags::PatientBirthDate).RangeEnd(kHighDate), kHighDate);
}

TEST(DicomAttribute, TimeRangeEnds) {
    DicomDataset request;
    PutRaw(request, Tags::StudyTime, "0800-1200");
    PutRaw(request, Tags::StepStartTime, "083000");
    DicomDataset other;
    PutRaw(other, Tags::StepStartTime, "-1000");

    EXPECT_EQ(request.Item(Tags::StudyTime).RangeStart(kLowTime), At(8, 0));
    EXPECT_EQ(request.Item(Tags::StudyTime).RangeEnd(kHighTime), At(12, 0));
    EXPECT_EQ(request.Item(Tags::StepStartTime).RangeStart(kLowTime), At(8, 30));
    EXPECT_EQ(request.Item(Tags::StepStartTime).RangeEnd(kHighTime), At(8, 30));
    EXPECT_EQ(other.Item(Tags::StepStartTime).RangeStart(kLowTime), kLowTime);
    EXPECT_EQ(other.Item(Tags::StepStartTime).RangeEnd(kHighTime), At(10, 0));
}

TEST(DicomAttribute, RangeInsideTheStepItem) {
    DicomDataset request = MakeRequest({}, {});
    PutRaw(request, Tags::StepStartDate, "20261201-20261202", true);
    const auto step = request.SequenceItem(Tags::StepSequence);
    ASSERT_TRUE(step.has_value());
    EXPECT_EQ(step->Item(Tags::StepStartDate).RangeEnd(kHighDate), Day(2026, 12, 2));
    EXPECT_FALSE(request.Contains(Tags::StepStartDate));
}

TEST(DicomAttribute, UnreadableDateOrTimeThrows) {
    DicomDataset request;
    PutRaw(request, Tags::StudyDate, "20261345");
    PutRaw(request, Tags::StudyTime, "noon");
    PutRaw(request, Tags::StepStartDate, "20261201-tomorrow");
    EXPECT_THROW(request.Item(Tags::StudyDate).RangeStart(kLowDate), MwlError);
    EXPECT_THROW(request.Item(Tags::StudyTime).RangeEnd(kHighTime), MwlError);
    EXPECT_NO_THROW(request.Item(Tags::StepStartDate).RangeStart(kLowDate));
    EXPECT_THROW(request.Item(Tags::StepStartDate).RangeEnd(kHighDate), MwlError);
}

TEST(DicomDataset, DatesAreWrittenYyyymmddWhateverTheirForm) {
    DicomDataset dataset;
    const QDateTime when(QDate(2026, 12, 1), QTime(14, 5, 9));
    const std::vector<std::pair<QVariant, std::string>> cases = {
        {QDate(2026, 12, 1), "20261201"},
        {when, "20261201"},
        {QStringLiteral("2026-12-01"), "20261201"},
        {QStringLiteral("2026-12-01 14:05:09"), "20261201"},
        {QStringLiteral(" 2026-12-01T14:05:09.250 "), "20261201"},
        {QStringLiteral("20261201140509"), "20261201"},
        {QStringLiteral("12/1/2026"), "20261201"},
        {QStringLiteral("20261201"), "20261201"},
        {QString(), ""},
        {QVariant(), ""},
    };
    for (const auto& [value, wire] : cases) {
        SCOPED_TRACE(value.toString().toStdString());
        dataset.Add(Tags::StudyDate, value);
        EXPECT_TRUE(dataset.Contains(Tags::StudyDate));
        EXPECT_EQ(WireValue(dataset, Tags::StudyDate), wire);
    }
}

TEST(DicomDataset, TimesAreWrittenHhmmssWhateverTheirForm) {
    DicomDataset dataset;
    const std::vector<std::pair<QVariant, std::string>> cases = {
        {QTime(14, 5, 9), "140509"},
        {QDateTime(QDate(2026, 12, 1), QTime(7, 0, 1)), "070001"},
        {QStringLiteral("14:05"), "140500"},
        {QStringLiteral("2026-12-01 23:59:58"), "235958"},
        {QStringLiteral("2026-12-01T06:07"), "060700"},
        {QStringLiteral("2026-12-01 06:07:08.999"), "060708"},
        {QStringLiteral("20261201235958"), "235958"},
        {QVariant(), ""},
    };
    for (const auto& [value, wire] : cases) {
        SCOPED_TRACE(value.toString().toStdString());
        dataset.Add(Tags::StudyTime, value);
        EXPECT_EQ(WireValue(dataset, Tags::StudyTime), wire);
    }
}

// An order placed in the hour the clocks skip in spring still has the date
// and time the HIS recorded; it is neither refused nor moved by an hour.
TEST(DicomDataset, LocalTimeInTheSpringGapKeepsItsClockTime) {
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    DicomDataset dataset;
    EXPECT_NO_THROW(dataset.Add(Tags::StudyTime, QStringLiteral("2026-03-29 02:30:00")));
    EXPECT_EQ(WireValue(dataset, Tags::StudyTime), "023000");
    EXPECT_NO_THROW(dataset.Add(Tags::StudyDate, QStringLiteral("2026-03-29 02:30:00")));
    EXPECT_EQ(WireValue(dataset, Tags::StudyDate), "20260329");
    if (zone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", zone);
    tzset();
}

TEST(DicomDataset, ValueThatIsNoDateOrTimeIsRefused) {
    DicomDataset dataset;
    EXPECT_THROW(dataset.Add(Tags::StudyDate, QStringLiteral("next week")), MwlError);
    EXPECT_THROW(dataset.Add(Tags::StudyDate, QStringLiteral("2026-02-30")), MwlError);
    EXPECT_THROW(dataset.Add(Tags::StudyTime, QStringLiteral("2026-12-01 25:00:00")), MwlError);
    EXPECT_THROW(dataset.Add(Tags::StudyDate, QStringLiteral("20261301")), MwlError);
    EXPECT_THROW(dataset.Add(Tags::StudyDate, QTime(8, 0)), MwlError);
    EXPECT_THROW(dataset.Add(Tags::StudyTime, QDate(2026, 12, 1)), MwlError);
    EXPECT_THROW(dataset.Add(Tags::ReferencedStudySequence, QStringLiteral("x")), MwlError);
}

TEST(DicomDataset, NumbersAndReplacement) {
    DicomDataset dataset;
    dataset.Add(Tags::PatientWeight, 72.5);
    EXPECT_EQ(dataset.Item(Tags::PatientWeight).Text(), QStringLiteral("72.5"));
    dataset.Add(Tags::AccessionNumber, 4711);
    dataset.Add(Tags::AccessionNumber, QStringLiteral("A2"));
    EXPECT_EQ(dataset.Item(Tags::AccessionNumber).Text(), QStringLiteral("A2"));
}

TEST(DicomDataset, TextGoesOutInLatin1WithQuestionMarksForOtherCharacters) {
    DicomDataset dataset;
    dataset.Add(Tags::PatientName, QStringLiteral(u"PEÑA^JOSÉ^"));
    dataset.Add(Tags::ReferringPhysicianName, QStringLiteral(u"Łukasz^Nowak"));
    EXPECT_EQ(WireValue(dataset, Tags::PatientName),
              "PE\xD1"
              "A^JOS\xC9^");
    EXPECT_EQ(dataset.PatientName(), QStringLiteral(u"PEÑA^JOSÉ^"));
    EXPECT_EQ(WireValue(dataset, Tags::ReferringPhysicianName), "?ukasz^Nowak");
}

TEST(DicomDataset, RequestTextIsReadInItsDeclaredCharacterSet) {
    auto latin = std::make_unique<DcmDataset>();
    latin->putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 100");
    latin->putAndInsertString(DCM_PatientName, "M\xFCller^J\xF6rg");
    EXPECT_EQ(DicomDataset(std::move(latin)).PatientName(), QStringLiteral(u"Müller^Jörg"));

    auto utf8 = std::make_unique<DcmDataset>();
    utf8->putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
    utf8->putAndInsertString(DCM_PatientName, "M\xC3\xBCller^J\xC3\xB6rg");
    EXPECT_EQ(DicomDataset(std::move(utf8)).PatientName(), QStringLiteral(u"Müller^Jörg"));

    // Other sets go through the toolkit's conversion, including ISO 2022 code
    // extensions, also inside the step item.
    auto cyrillic = std::make_unique<DcmDataset>();
    cyrillic->putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 144");
    cyrillic->putAndInsertString(DCM_PatientName, "\xB8\xD2\xD0\xDD\xDE\xD2^\xB8\xD2\xD0\xDD");
    DcmItem* step = nullptr;
    cyrillic->findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, step);
    step->putAndInsertString(DCM_ScheduledPerformingPhysicianName, "\xB8\xD2\xD0\xDD");
    const DicomDataset russian(std::move(cyrillic));
    EXPECT_EQ(russian.PatientName(), QStringLiteral(u"Иванов^Иван"));
    EXPECT_EQ(russian.SequenceItem(Tags::StepSequence)->Item(0x0040, 0x0006).Text(),
              QStringLiteral(u"Иван"));
    EXPECT_TRUE(russian.TextProblem().isEmpty());

    auto japanese = std::make_unique<DcmDataset>();
    japanese->putAndInsertString(DCM_SpecificCharacterSet, "\\ISO 2022 IR 87");
    japanese->putAndInsertString(DCM_PatientName, "\x1B$B;3ED\x1B(B^\x1B$BB@O:\x1B(B");
    EXPECT_EQ(DicomDataset(std::move(japanese)).PatientName(), QStringLiteral(u"山田^太郎"));
    // Half-width katakana in G1, then kanji and hiragana groups.
    auto katakana = std::make_unique<DcmDataset>();
    katakana->putAndInsertString(DCM_SpecificCharacterSet, "ISO 2022 IR 13\\ISO 2022 IR 87");
    katakana->putAndInsertString(DCM_PatientName,
                                 "\xD4\xCF\xC0\xDE^\xC0\xDB\xB3=\x1B$B;3ED\x1B(J^\x1B$BB@O:\x1B(J="
                                 "\x1B$B$d$^$@\x1B(J^\x1B$B$?$m$&\x1B(J");
    EXPECT_EQ(DicomDataset(std::move(katakana)).PatientName(),
              QStringLiteral(u"ﾔﾏﾀﾞ^ﾀﾛｳ=山田^太郎=やまだ^たろう"));

    // A set the toolkit does not know: read as ISO 8859-1, and said so.
    auto unknown = std::make_unique<DcmDataset>();
    unknown->putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 999");
    unknown->putAndInsertString(DCM_PatientName, "M\xFCller");
    const DicomDataset odd(std::move(unknown));
    EXPECT_EQ(odd.PatientName(), QStringLiteral(u"Müller"));
    EXPECT_TRUE(odd.TextProblem().contains("\"ISO_IR 999\" could not be converted"))
        << odd.TextProblem().toStdString();
}

TEST(DicomDataset, SequenceItems) {
    DicomDataset dataset;
    DicomDataset first = dataset.AddSequenceItem(Tags::StepSequence);
    DicomDataset second = dataset.AddSequenceItem(Tags::StepSequence);
    first.Add(Tags::Modality, QStringLiteral("CR"));
    second.Add(Tags::Modality, QStringLiteral("MR"));

    ASSERT_TRUE(dataset.SequenceItem(Tags::StepSequence, 0).has_value());
    EXPECT_EQ(dataset.SequenceItem(Tags::StepSequence, 0)->Item(Tags::Modality).Text(), "CR");
    EXPECT_EQ(dataset.SequenceItem(Tags::StepSequence, 1)->Item(Tags::Modality).Text(), "MR");
    EXPECT_FALSE(dataset.SequenceItem(Tags::StepSequence, 2).has_value());
    EXPECT_FALSE(dataset.SequenceItem(Tags::ReferencedStudySequence).has_value());
    EXPECT_FALSE(dataset.Contains(Tags::Modality));
    EXPECT_FALSE(dataset.Item(Tags::StepSequence).IsNull());
}

TEST(DicomDataset, ItemViewKeepsItsDatasetAlive) {
    std::optional<DicomDataset> item;
    {
        DicomDataset dataset = MakeRequest({}, {Tags::StepStartDate}, QStringLiteral("US"));
        item = dataset.SequenceItem(Tags::StepSequence);
    }
    ASSERT_TRUE(item.has_value());
    EXPECT_EQ(item->Item(Tags::Modality).Text(), QStringLiteral("US"));
    EXPECT_TRUE(item->Contains(Tags::StepStartDate));
}

TEST(DicomDataset, EmptySequenceFromNull) {
    DicomDataset dataset;
    dataset.Add(Tags::ReferencedStudySequence, QVariant());
    const DicomAttribute sequence = dataset.Item(Tags::ReferencedStudySequence);
    EXPECT_TRUE(sequence.Exists());
    EXPECT_TRUE(sequence.IsNull());
    EXPECT_FALSE(dataset.SequenceItem(Tags::ReferencedStudySequence).has_value());

    // Emptying an existing sequence drops its items.
    dataset.AddSequenceItem(Tags::ReferencedStudySequence);
    dataset.Add(Tags::ReferencedStudySequence, QString());
    EXPECT_FALSE(dataset.SequenceItem(Tags::ReferencedStudySequence).has_value());
}

TEST(DicomDataset, AttributesInOrderWithTheirKeywords) {
    DicomDataset request = MakeRequest({Tags::PatientId, Tags::PatientName}, {});
    const std::vector<DicomAttribute> attributes = request.Attributes();
    QStringList keywords;
    for (const DicomAttribute& attribute : attributes) keywords << attribute.Description();
    EXPECT_EQ(keywords,
              (QStringList{"PatientName", "PatientID", "ScheduledProcedureStepSequence"}));
    EXPECT_EQ(request.Item(Tags::AccessionNumber).Description(), QStringLiteral("AccessionNumber"));
}

TEST(CharacterSetDeclaration, AddedOnlyWhenTextLeavesAscii) {
    DicomDataset plain;
    plain.Add(Tags::PatientName, "SANTOS^MARIA^");
    DeclareCharacterSetIfNeeded(*plain.Root());
    EXPECT_FALSE(plain.Contains(Tags::SpecificCharacterSet));

    DicomDataset accented;
    accented.Add(Tags::PatientId, "100231");
    accented.AddSequenceItem(Tags::StepSequence)
        .Add(Tags::RequestingPhysician, QString::fromUtf8("PEÑA^JOSÉ"));
    DeclareCharacterSetIfNeeded(*accented.Root());
    EXPECT_EQ(accented.Item(Tags::SpecificCharacterSet).Text(), "ISO_IR 100");

    DicomDataset declared;
    declared.Add(Tags::SpecificCharacterSet, "ISO_IR 100");
    declared.Add(Tags::PatientName, QString::fromUtf8("MÜLLER"));
    DeclareCharacterSetIfNeeded(*declared.Root());
    EXPECT_EQ(declared.Item(Tags::SpecificCharacterSet).Values().size(), 1);
}
