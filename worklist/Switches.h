#pragma once

#include <QString>

// The operator's switches and boxes, read afresh whenever the service needs
// them, so a change applies from the next record on.
class Switches {
public:
    virtual ~Switches() = default;
    virtual bool ShowRequests() const = 0;
    virtual bool ReplaceEnye() const = 0;
    virtual bool GenerateStudyUid() const = 0;
    virtual bool Trace() const = 0;
    virtual bool ReturnThisQuery() const = 0;
    virtual QString SqlBoxText() const = 0;
    virtual QString InstitutionBoxText() const = 0;
    virtual QString Hl7FolderText() const = 0;
};
