#include "worklist/corvante/CorvanteSource.h"

#include "platform/his/FieldText.h"
#include "worklist/ListingLine.h"
#include "worklist/MatchFill.h"
#include "worklist/Tags.h"

namespace {

// The worklist table's columns under the order-record aliases.
QString Columns() {
    return QStringLiteral(
               "select worklistid as RequestNum,created as TranD, patientid as HN,last_name as "
               "MLN,first_name as MFN,middle_name as MMN ,  ") +
           " birthdate as MASBirthDate, gender as MASS " + "       ";
}

}  // namespace

QString CorvanteSource::BaseStatement(SqlDialect) const {
    return Columns() + " from xray_worklist where is_done=0 and is_valid=1 ";
}

// No key of the request narrows it.
QString CorvanteSource::Statement(const StatementInput& input) const {
    return BaseStatement(input.dialect);
}

void CorvanteSource::FillMatch(MatchFill& fill) const {
    fill.Head(false);
    fill.Top(Tags::PatientBirthDate, fill.Field(QStringLiteral("MASBirthDate")));
    fill.Top(Tags::PatientSex, fill.Field(QStringLiteral("MASS")));
    fill.Top(Tags::StudyDate, fill.Field(QStringLiteral("TranD")));
    // The order carries no appointment: the step is scheduled for now.
    const QDateTime now = fill.run.resources.clock.Now();
    fill.Top(Tags::StudyTime, now.time());
    fill.Top(Tags::StepStartDate, now.date());
    fill.Top(Tags::StepStartTime, now.time());
    fill.Step(Tags::StepStartDate, now.date());
    fill.Step(Tags::StepStartTime, now.time());
    fill.Top(Tags::CurrentPatientLocation, QStringLiteral("OPD"));
    fill.Identifiers(QVariant());
    fill.Tail(false);
}

// Every order of the table is an x-ray order: an x-ray room's own modality
// where it names one, x-ray (CR) otherwise.
QString CorvanteSource::StepModality(const RequestKeys& keys, const Recordset&) const {
    static const QStringList kXray = {"CR", "DX", "DR", "MG"};
    const QString named = keys.StepLiteral(Tags::Modality).toUpper();
    return kXray.contains(named) ? named : QStringLiteral("CR");
}

ListingPlan CorvanteSource::Listing(const QString&, SqlDialect dialect) const {
    return {BaseStatement(dialect), true};
}

QString CorvanteSource::ListingLine(const Recordset& r) const {
    using namespace ::ListingLine;
    return Joined({DisplayField(r, "TranD"), DisplayField(r, "RequestNum"), DisplayField(r, "HN"),
                   NameField(r), DisplayField(r, "MASBirthDate"), DisplayField(r, "MASS")});
}

// Valid or not.
std::optional<QString> CorvanteSource::DoneExamsStatement(SqlDialect) const {
    return Columns() + " from xray_worklist where is_done=1";
}
