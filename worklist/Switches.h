#pragma once

#include <QString>

// The operator's switches and boxes as one query reads them: "Show Requested
// Elements", "Replace Ñ", "Generate Study UID", "Trace", "Return this Query",
// the SQL box, the institution box and the HL7 folder box.
struct Switches {
    bool showRequests = false;
    bool replaceEnye = false;
    bool generateStudyUid = false;
    bool trace = false;
    bool returnThisQuery = false;
    QString sqlBoxText;
    QString institutionBoxText;
    QString hl7FolderText;
};
