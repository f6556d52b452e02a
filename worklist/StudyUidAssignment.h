#pragma once

#include <QString>

#include "platform/his/Recordset.h"
#include "worklist/WorklistServices.h"

// Decides the Study Instance UID of one order record: fresh for every answer,
// or, with "Generate Study UID" ticked, the one stored with the request in the
// radiology database (creating and storing it when there is none yet).
class StudyUidAssignment {
public:
    explicit StudyUidAssignment(WorklistServices& services) : m_services(services) {}

    QString StudyUidFor(const QString& modality, const Recordset& record);

    static QString RevenueLiteral(const QString& modality);
    static QString LookupStatement(const QString& modality, const QString& requestNum);
    static QString UpdateStatement(const QString& modality, const QString& uid,
                                   const QString& requestNum);

private:
    QString StoredOrNew(const QString& modality, const QString& requestNum);

    WorklistServices& m_services;
};
