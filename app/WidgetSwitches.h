#pragma once

#include "app/MainWindowUi.h"
#include "worklist/Switches.h"

// The operator's switches as the main window's controls hold them; read on
// the window's thread whenever one of them changes, into the snapshot the
// next query takes.
inline Switches WidgetSwitches(const MainWindowUi& ui) {
    // A grayed box counts as not ticked.
    const auto ticked = [](const QCheckBox* box) { return box->checkState() == Qt::Checked; };
    Switches switches;
    switches.showRequests = ticked(ui.chkShowRequests);
    switches.replaceEnye = ticked(ui.chkReplaceEnye);
    switches.generateStudyUid = ticked(ui.chkGenStudyUID);
    switches.trace = ticked(ui.chkTrace);
    switches.returnThisQuery = ticked(ui.chkReturnThis);
    switches.sqlBoxText = ui.txtSQLStr->toPlainText();
    switches.institutionBoxText = ui.txtInstName->text();
    switches.hl7FolderText = ui.txtHL7Folder->text();
    return switches;
}
