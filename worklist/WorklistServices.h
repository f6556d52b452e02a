#pragma once

#include "platform/ActivityLog.h"
#include "platform/Clock.h"
#include "platform/dicom/UidGenerator.h"
#include "platform/his/HisConnection.h"
#include "platform/settings/SettingsStore.h"
#include "worklist/ServiceState.h"
#include "worklist/StatusView.h"
#include "worklist/Switches.h"

// The collaborators of the worklist service; they all outlive it.
struct WorklistServices {
    ActivityLog& log;
    Switches& switches;
    StatusView& status;
    HisConnection& his;
    SettingsStore& settings;
    UidGenerator& uids;
    const Clock& clock;
    ServiceState& state;
};
