#pragma once

#include <QString>
#include <QStringList>

#include "platform/dicom/AssociationLimits.h"
#include "platform/dicom/ListenAddresses.h"
#include "platform/settings/SettingsStore.h"

// The listener's limits, addresses and pending status from the "PACS"
// "Network" section. A missing key keeps its default; a value that is not a
// whole number in its range keeps the default too, and says so. An entry of
// ListenAddresses that is no address is left out and said; PendingStatus is
// FF01 or FF00.
struct NetworkSettings {
    AssociationLimits limits;
    ListenAddresses addresses;
    QStringList problems;  // one line for the activity log per value not used

    void Load(const SettingsStore& store);
    // The values in force, for the activity log.
    QString Description() const;

private:
    void LoadLimits(const SettingsStore& store);
    void LoadAddresses(const SettingsStore& store);
    void LoadPendingStatus(const SettingsStore& store);
};
