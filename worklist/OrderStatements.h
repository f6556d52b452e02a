#pragma once

#include <QString>

#include "platform/dicom/DicomDataset.h"
#include "worklist/WorklistServices.h"

// The keys a statement is built from: the request, its step item and the
// requested modality.
struct QueryKeys {
    const DicomDataset& request;
    const DicomDataset& requestStep;
    const QString& modality;
};

// Builds the order query of the selected database mode. The empty text means
// there is nothing to run.
class OrderStatements {
public:
    explicit OrderStatements(WorklistServices& services) : m_services(services) {}

    QString Build(const QString& mode, const QueryKeys& keys);

private:
    QString Talvek(const QueryKeys& keys);
    QString Pelta(const QueryKeys& keys);
    QString Orvelline(const QueryKeys& keys);

    WorklistServices& m_services;
};
