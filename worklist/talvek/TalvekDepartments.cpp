#include "worklist/talvek/TalvekDepartments.h"

#include <QStringList>
#include <vector>

#include "worklist/SqlText.h"

namespace {

const QString kOtherRevenueJoin = QStringLiteral(
    " LEFT OUTER JOIN  Build_File.dbo.tbcootherrevenue  XrE ON XRR.Code = XrE.OtherRevenueID  ");
const QString kRequestMaster = QStringLiteral("Radiology..tbRequestMaster");
const QString kCathLab = QStringLiteral("Clinical_Area..tbCathLabMaster");

struct Entry {
    QStringList modalities;
    TalvekDepartment department;
};

// An empty modality is an X-ray order: a plain radiography room asks without one.
const std::vector<Entry>& Departments() {
    static const std::vector<Entry> table = {
        {{"MG", "CR", "DR", "DX", ""},
         {QStringLiteral(" XrayExam as ProcDesc From Radiology.dbo.tbXRRequest XRR "),
          QStringLiteral(
              " LEFT OUTER JOIN  Build_File.dbo.tbCoXrayExam XrE ON XRR.Code = XrE.XrayExamID  "),
          QStringLiteral(" and xrr.revenueid = 'XR'"), QStringLiteral("'XR'"),
          QStringLiteral("Radiology..tbXRRequest"), QStringLiteral("XR")}},
        {{"MR"},
         {QStringLiteral(" OtherRevenue as ProcDesc From Radiology.dbo.tbMRIRequest XRR "),
          kOtherRevenueJoin, QStringLiteral(" and xrr.revenueid in ('MI','RI')"),
          QStringLiteral("'RI'"), QStringLiteral("Radiology..tbMRIRequest"), QStringLiteral("RI")}},
        {{"US"},
         {QStringLiteral(" UltraExam as ProcDesc From Radiology.dbo.tbULRequest XRR   "),
          QStringLiteral(
              " LEFT OUTER JOIN  Build_File.dbo.tbCoUltraExam XrE ON XRR.Code = XrE.UltraExamID  "),
          QStringLiteral(" and xrr.revenueid = 'US'"), QStringLiteral("'US'"),
          QStringLiteral("Radiology..tbULRequest"), QStringLiteral("US")}},
        {{"CT"},
         {QStringLiteral(" CTExam as ProcDesc From Radiology.dbo.tbCTRequest XRR   "),
          QStringLiteral(
              " LEFT OUTER JOIN  Build_File.dbo.tbCoCTExam XrE ON XRR.Code = XrE.CTExamID  "),
          QStringLiteral(" and xrr.revenueid = 'CT'"), QStringLiteral("'CT'"),
          QStringLiteral("Radiology..tbCTRequest"), QStringLiteral("CT")}},
        {{"IVUS"},
         {QStringLiteral(" OtherRevenue as ProcDesc From Radiology.dbo.tbRequestMaster  XRR "),
          kOtherRevenueJoin, QStringLiteral(" and xrr.revenueid = 'VU'"), std::nullopt,
          kRequestMaster, std::nullopt}},
        {{"P4", "PT"},
         {QStringLiteral(" OtherRevenue as ProcDesc From Radiology.dbo.tbRequestMaster  XRR "),
          kOtherRevenueJoin, QStringLiteral(" and xrr.revenueid = 'P4'"), QStringLiteral("'P4'"),
          kRequestMaster, std::nullopt}},
        {{"PG"},
         {QStringLiteral(" OtherRevenue as ProcDesc From Radiology.dbo.tbOBULRequest  XRR "),
          kOtherRevenueJoin, QStringLiteral(" and xrr.revenueid = 'PG'"), QStringLiteral("'PG'"),
          kRequestMaster, std::nullopt}},
        {{"CQ"},
         {QStringLiteral(" OtherRevenue as ProcDesc From Clinical_Area..tbCathLabMaster  XRR "),
          kOtherRevenueJoin, std::nullopt, QStringLiteral("'") + "CQ" + "'", kCathLab,
          QStringLiteral("CQ")}},
        // The cath lab's other modality code: no order statement of its own,
        // but its Study UIDs are the cath lab's.
        {{"XA"},
         {std::nullopt, QString(), std::nullopt, QStringLiteral("'") + "CQ" + "'", kCathLab,
          QStringLiteral("CQ")}},
    };
    return table;
}

const TalvekDepartment& Other() {
    static const TalvekDepartment other{std::nullopt, QString(),     std::nullopt,
                                        std::nullopt, kRequestMaster, std::nullopt};
    return other;
}

}  // namespace

const TalvekDepartment& TalvekDepartmentOf(const QString& modality) {
    const QString upper = modality.toUpper();
    for (const Entry& entry : Departments())
        if (entry.modalities.contains(upper)) return entry.department;
    return Other();
}

QString StudyUidLookupStatement(const QString& modality, const QString& requestNum) {
    const QString revenue = TalvekDepartmentOf(modality).lookupRevenue.value_or(
        QStringLiteral("'") + SqlLiteralText(modality) + "'");
    return QStringLiteral(
               " select isnull(StudyUID,'') as StudyUID from Radiology..tbRadiologyRequests "
               "where RevenueID = ") +
           revenue + " and Requestnum ='" + SqlLiteralText(requestNum) + "'";
}

QString StudyUidUpdateStatement(const QString& modality, const QString& uid,
                                const QString& requestNum) {
    const TalvekDepartment& department = TalvekDepartmentOf(modality);
    return QStringLiteral(" update ") + department.updateTable + " set StudyUID = '" +
           SqlLiteralText(uid) + "' where RequestNum = '" + SqlLiteralText(requestNum) +
           "' and RevenueID = '" + department.updateRevenue.value_or(SqlLiteralText(modality)) +
           "'";
}
