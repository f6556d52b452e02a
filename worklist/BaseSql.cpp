#include "worklist/BaseSql.h"

#include "worklist/ServiceState.h"

namespace {

QString PeltaBase() {
    return QStringLiteral(
               "select top 10 ORD.dodate as TranD,ORD.Hpercode as HN,patlast as MLN,patfirst as "
               "MFN,patmiddle as MMN,prikey as IDN,") +
           " ORD.enccode as Encounter,patbdate as MASBirthDate,patsex as MASS," +
           " ORD.proccode as ProcCode,procdesc as ProcDesc," +
           " DOC.lastname + ',' + DOC.firstname + ' ' + DOC.middlename as DOCNAME " +
           " ,RequestNum" + " from PELTA.dbo.hdocOrd as ORD" +
           " left outer join PELTA.dbo.hperson as PER" + " on PER.hpercode = ORD.hpercode" +
           " left outer join PELTA.dbo.henctr as ENC" + " on ORD.enccode = ENC.enccode" +
           " left outer join PELTA.dbo.hprocm as PROCD" + " on ORD.proccode = PROCD.proccode" +
           " left outer join PELTA.dbo.hprovider as PROVIDER" +
           " on ORD.licno = PROVIDER.licno " + "  left outer join  PELTA.dbo.hpersonal as DOC " +
           " on PROVIDER.employeeid = DOC.employeeid " + " where 1=1  ";
}

QString OrvellineBase() {
    return QStringLiteral("SELECT  ") + "qnumber as RequestNum," +
           "patient_id as HN,  patient_fname as MFN , patient_mname as MMN, patient_lname as "
           "MLN,  gender as MASS, birthdate as MASBirthDate," +
           // "+" adds numbers on this server; CONCAT joins texts, and a NULL
           // component becomes an empty one instead of making the name NULL.
           "CONCAT(COALESCE(doctor_id, ''), '^', COALESCE(doctor_lname, ''), '^', "
           "COALESCE(doctor_fname, ''), '^', COALESCE(doctor_mname, '')) as DocName," +
           "modality,item_code as ProcCode, study_desc as ProcDesc , Result, Status," +
           "TimeStamp as TranD, branch_code, remarks from worksheet where status=0 ";
}

// The CORVANTE worklist table's columns under the order-record aliases.
QString CorvanteColumns() {
    return QStringLiteral(
               "select worklistid as RequestNum,created as TranD, patientid as HN,last_name as "
               "MLN,first_name as MFN,middle_name as MMN ,  ") +
           " birthdate as MASBirthDate, gender as MASS " + "       ";
}

QString CorvanteBase() {
    return CorvanteColumns() + " from xray_worklist where is_done=0 and is_valid=1 ";
}

}  // namespace

QString BaseSqlFor(const QString& connectionMode) {
    if (connectionMode == Modes::Pelta) return PeltaBase();
    if (connectionMode == Modes::Orvelline) return OrvellineBase();
    if (connectionMode == Modes::Corvante) return CorvanteBase();
    return QString();
}

QString CorvanteDoneExamsSql() { return CorvanteColumns() + " from xray_worklist where is_done=1"; }
