#pragma once

#include <QString>
#include <QStringList>

#include "platform/dicom/AssociationLimits.h"
#include "platform/settings/SettingsStore.h"

// The listener's limits from the "PACS" "Network" section. A missing key
// keeps its default; a value that is not a whole number in its range keeps
// the default too, and says so.
struct NetworkSettings {
    AssociationLimits limits;
    QStringList problems;  // one line for the activity log per value not used

    void Load(const SettingsStore& store);
    // The values in force, for the activity log.
    QString Description() const;
};
