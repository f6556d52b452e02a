#pragma once

#include <QString>

#include "platform/dicom/DicomDataset.h"
#include "platform/his/Recordset.h"
#include "worklist/RequestedAttributes.h"
#include "worklist/StudyUidAssignment.h"
#include "worklist/WorklistServices.h"

// The patient's name as prepared for one response; the handler's log line
// shows the three parts.
struct NameParts {
    QString last;
    QString first;
    QString middle;
};

// What one order record is answered against.
struct MatchContext {
    const DicomDataset& request;
    const DicomDataset& requestStep;
    const Recordset& record;
    const QString& modality;
    const QString& mode;
};

// Fills one worklist item (the response and the single item of its Scheduled
// Procedure Step Sequence) from one order record. Every attribute is returned
// only where the request asks for it, at the same level.
class ResponseBuilder {
public:
    explicit ResponseBuilder(WorklistServices& services);

    // Throws MwlError when the record lacks a field it must have or its order
    // date does not read as a date and time.
    NameParts Fill(MatchDataset& response, MatchDataset& responseStep, const MatchContext& match);

private:
    NameParts PrepareName(const Recordset& record) const;
    void AddHead(MatchDataset& response, const MatchContext& match, const NameParts& name);
    void AddTalvekOrPelta(MatchDataset& response, MatchDataset& responseStep,
                          const MatchContext& match);
    void AddCorvante(MatchDataset& response, MatchDataset& responseStep, const MatchContext& match);
    void AddOrvelline(MatchDataset& response, MatchDataset& responseStep,
                      const MatchContext& match);
    void AddOrderDates(MatchDataset& response, MatchDataset& responseStep,
                       const MatchContext& match);
    void AddTail(MatchDataset& response, const MatchContext& match);

    void Top(MatchDataset& response, const MatchContext& match, Tag tag, const QVariant& value);
    void Step(MatchDataset& responseStep, const MatchContext& match, Tag tag,
              const QVariant& value);

    WorklistServices& m_services;
    RequestedAttributes m_requested;
    StudyUidAssignment m_studyUids;
};
