#include "worklist/talvek/TalvekRecord.h"

#include "platform/his/FieldText.h"
#include "worklist/ListingLine.h"
#include "worklist/MatchFill.h"
#include "worklist/Tags.h"

namespace TalvekRecord {

void Fill(MatchFill& fill, bool clinicColumns) {
    const bool clinic = clinicColumns && FieldText(fill.Field(QStringLiteral("HN")))
                                             .startsWith(QLatin1Char('T'));
    fill.Top(Tags::PatientBirthDate,
             fill.Field(clinic ? QStringLiteral("CASBirthDate") : QStringLiteral("MASBirthDate")));
    fill.Top(Tags::PatientSex,
             fill.Field(clinic ? QStringLiteral("CASSex") : QStringLiteral("MASS")));
    fill.Step(Tags::OtherPatientIds, fill.Field(QStringLiteral("IDN")));
    fill.Step(Tags::RequestingPhysician, fill.Field(QStringLiteral("DocName")));
    fill.Identifiers(fill.Field(QStringLiteral("ProcCode")));
    fill.Top(Tags::RequestedProcedureDescription, fill.Field(QStringLiteral("ProcDesc")));
    fill.Top(Tags::ReferringPhysicianName, fill.Field(QStringLiteral("DocName")));
    fill.OrderDates();
}

QString ListingLine(const Recordset& r) {
    using namespace ::ListingLine;
    return Joined({DisplayField(r, "RequestNum"), QStringLiteral("TALVEK"), NameField(r),
                   DisplayField(r, "HN"), DisplayField(r, "MASBirthDate"), DisplayField(r, "MASS"),
                   DisplayField(r, "IDN"), DisplayField(r, "RequestNum"), DisplayField(r, "DocName"),
                   DisplayField(r, "ProcCode"), DisplayField(r, "ProcDesc"),
                   DisplayField(r, "DocName"), DatePart(r), DisplayField(r, "IDN")});
}

}  // namespace TalvekRecord
