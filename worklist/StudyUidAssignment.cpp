#include "worklist/StudyUidAssignment.h"

#include <QStringList>

#include "platform/his/FieldText.h"
#include "worklist/SqlText.h"

namespace {

bool IsXray(const QString& upper) {
    static const QStringList kXray = {QStringLiteral("MG"), QStringLiteral("CR"),
                                      QStringLiteral("DR"), QStringLiteral("DX"), QString()};
    return kXray.contains(upper);
}

bool IsCathLab(const QString& upper) { return upper == "CQ" || upper == "XA"; }

}  // namespace

QString StudyUidAssignment::RevenueLiteral(const QString& modality) {
    const QString upper = modality.toUpper();
    if (IsXray(upper)) return QStringLiteral("'XR'");
    if (upper == "MR") return QStringLiteral("'RI'");
    if (upper == "US") return QStringLiteral("'US'");
    if (upper == "CT") return QStringLiteral("'CT'");
    if (upper == "PT" || upper == "P4") return QStringLiteral("'P4'");
    if (upper == "PG") return QStringLiteral("'PG'");
    if (IsCathLab(upper)) return QStringLiteral("'") + "CQ" + "'";
    return QStringLiteral("'") + SqlLiteralText(modality) + "'";
}

QString StudyUidAssignment::LookupStatement(const QString& modality, const QString& requestNum) {
    return QStringLiteral(
               " select isnull(StudyUID,'') as StudyUID from Radiology..tbRadiologyRequests "
               "where RevenueID = ") +
           RevenueLiteral(modality) + " and Requestnum ='" + SqlLiteralText(requestNum) + "'";
}

QString StudyUidAssignment::UpdateStatement(const QString& modality, const QString& uid,
                                            const QString& requestNum) {
    const QString upper = modality.toUpper();
    auto update = [&](const QString& table, const QString& revenue) {
        return QStringLiteral(" update ") + table + " set StudyUID = '" + SqlLiteralText(uid) +
               "' where RequestNum = '" + SqlLiteralText(requestNum) + "' and RevenueID = '" +
               revenue + "'";
    };
    if (IsXray(upper)) return update(QStringLiteral("Radiology..tbXRRequest"), "XR");
    if (upper == "MR") return update(QStringLiteral("Radiology..tbMRIRequest"), "RI");
    if (upper == "US") return update(QStringLiteral("Radiology..tbULRequest"), "US");
    if (upper == "CT") return update(QStringLiteral("Radiology..tbCTRequest"), "CT");
    if (IsCathLab(upper)) return update(QStringLiteral("Clinical_Area..tbCathLabMaster"), "CQ");
    return update(QStringLiteral("Radiology..tbRequestMaster"), SqlLiteralText(modality));
}

QString StudyUidAssignment::StudyUidFor(const QString& modality, const Recordset& record) {
    if (!m_services.switches.GenerateStudyUid()) return m_services.uids.NewUid();
    const QString uid = StoredOrNew(modality, FieldText(record.Field(QStringLiteral("RequestNum"))));
    m_services.log.AppendLog(uid);
    return uid;
}

QString StudyUidAssignment::StoredOrNew(const QString& modality, const QString& requestNum) {
    auto lookup = m_services.his.Execute(LookupStatement(modality, requestNum));
    // No request row: nothing can be stored, so the record gets a fresh UID of
    // its own rather than none (or another record's).
    if (lookup->Eof()) return m_services.uids.NewUid();
    const QString stored = FieldText(lookup->Field(QStringLiteral("StudyUID")));
    if (!stored.isEmpty()) return stored;
    const QString uid = m_services.uids.NewUid();
    m_services.his.Execute(UpdateStatement(modality, uid, requestNum));
    return uid;
}
