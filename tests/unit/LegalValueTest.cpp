// The one rule book that makes a value legal for its VR before it goes into
// a match, for the values hostile HIS rows and order files hold.

#include <gtest/gtest.h>

#include <QDate>

#include "platform/dicom/LegalValue.h"
#include "worklist/Tags.h"

namespace {

using namespace ValueFix;

constexpr Tag kScheduledStepComments{0x0040, 0x0400};  // LT

struct Case {
    Tag tag;
    QVariant value;
    QByteArray wire;
    ValueFixes fixes;
    TextEncoding encoding = TextEncoding::Latin1;
};

QString Repeated(const char* text, int times) { return QString::fromUtf8(text).repeated(times); }

}  // namespace

TEST(LegalValue, EachVrGetsALegalValueAndSaysWhatChanged) {
    const QString greek = QString::fromUtf8("Παπαδοπούλου^Ελένη");
    const Case cases[] = {
        // Lengths, in bytes, cut on a character boundary.
        {Tags::AccessionNumber, QString(30, QLatin1Char('7')), QByteArray(16, '7'), Cut},
        {Tags::AccessionNumber, "2147483648", "2147483648", 0},
        {Tags::PatientId, QLatin1Char('x') + Repeated("Ä", 40), "x" + Repeated("Ä", 31).toUtf8(),
         Cut, TextEncoding::Utf8},
        {Tags::PatientId, Repeated("Ä", 70), Repeated("Ä", 64).toLatin1(), Cut},
        // Control characters; free text keeps its layout.
        {Tags::PatientName, QStringLiteral("AB\tC") + QChar(1) + "D" + QChar(0x1B), "AB CD",
         ControlCharacters},
        {kScheduledStepComments, QStringLiteral("a\r\nb") + QChar(2), "a\r\nb", ControlCharacters},
        // "\" splits only what may hold several values.
        {Tags::AccessionNumber, "A\\B", "A/B", Backslash},
        {Tags::OtherPatientIds, "A\\B", "A\\B", 0},
        // Person names: five components, three groups, 64 bytes in all.
        {Tags::PatientName, "A^B^C^D^E^F^G", "A^B^C^D^E F G", NameStructure},
        {Tags::PatientName, "A^B^C^D^E^^", "A^B^C^D^E", NameStructure},
        {Tags::PatientName, "A=B=C=D", "A=B=C D", NameStructure},
        {Tags::PatientName, QString(60, QLatin1Char('N')) + "=XYZ^ABC",
         QByteArray(60, 'N') + "=XYZ", Cut},
        {Tags::PatientName, "SANTOS^MARIA^LUZ", "SANTOS^MARIA^LUZ", 0},
        // Code strings, and Patient's Sex from a letter or word.
        {Tags::Modality, "cr", "CR", Repertoire},
        {Tags::Modality, "X-RAY", "X_RAY", Repertoire},
        {Tags::PatientSex, "F", "F", 0},
        {Tags::PatientSex, "male", "M", Sex},
        {Tags::PatientSex, " f ", "F", Sex},
        {Tags::PatientSex, "Woman", "F", Sex},
        {Tags::PatientSex, "other", "O", Sex},
        {Tags::PatientSex, "unknown", "", Sex},
        // AE titles and UIDs keep their repertoire; a padded UID is no change.
        {Tags::ScheduledStationAeTitle, QString::fromUtf8("CTé1"), "CT1", Repertoire},
        {Tags::StudyInstanceUid, " 1.2.3 ", "1.2.3", 0},
        {Tags::StudyInstanceUid, "1.2.a3", "1.2.3", Repertoire},
        // Real dates and times, or empty.
        {Tags::PatientBirthDate, "1980-02-31", "", NotDateOrTime},
        {Tags::PatientBirthDate, "yesterday", "", NotDateOrTime},
        {Tags::PatientBirthDate, "08:30", "", NotDateOrTime},
        {Tags::PatientBirthDate, QDate(1980, 2, 29), "19800229", 0},
        {Tags::PatientBirthDate, "20261203-", "", NotDateOrTime},
        {Tags::PatientBirthDate, QString(), "", 0},
        {Tags::PatientBirthDate, QVariant(), "", 0},
        {Tags::StudyTime, QDate(2026, 12, 1), "", NotDateOrTime},
        {Tags::StudyTime, "2026-12-01 08:09:10", "080910", 0},
        // The answer's character set: UTF-8 keeps every letter.
        {Tags::PatientName, greek, greek.toUtf8(), 0, TextEncoding::Utf8},
        {Tags::PatientName, greek, greek.toLatin1(), 0},
        {Tags::PatientName, QString::fromUtf8("山田^太郎"), QString::fromUtf8("山田^太郎").toUtf8(),
         0, TextEncoding::Utf8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("(%1,%2) %3")
                         .arg(c.tag.group, 4, 16)
                         .arg(c.tag.element, 4, 16)
                         .arg(c.value.toString())
                         .toStdString());
        ValueFixes fixes = 0;
        EXPECT_EQ(LegalWireValue(c.tag, c.value, c.encoding, fixes), c.wire);
        EXPECT_EQ(fixes, c.fixes);
    }
}

// A name made of parts keeps each part whole, and the log names the
// attribute and the change, never the value.
TEST(LegalValue, NamesFromPartsAndWhatTheLogSays) {
    ValueFixes fixes = 0;
    EXPECT_EQ(PersonNameOf({"BIG", "ACC", "X^Y"}, fixes), "BIG^ACC^X Y");
    EXPECT_EQ(fixes, NameStructure);
    fixes = 0;
    EXPECT_EQ(PersonNameOf({"O=NEIL", "A\\B", ""}, fixes), "O NEIL^A B^");
    EXPECT_EQ(fixes, NameStructure | Backslash);
    fixes = 0;
    EXPECT_EQ(PersonNameOf({"DELA CRUZ", "JUAN", ""}, fixes), "DELA CRUZ^JUAN^");
    EXPECT_EQ(fixes, 0u);

    EXPECT_EQ(DescribeFixes(Tags::SeriesDescription, Cut | ControlCharacters),
              "SeriesDescription (0008,103E), LO: cut to its maximum length; control characters "
              "removed");
}
