#pragma once

#include "app/MainWindowUi.h"
#include "worklist/Switches.h"

// The operator's switches as the main window's controls hold them, read at the
// moment the service asks, so a tick or an edit applies from the next record.
class WidgetSwitches : public Switches {
public:
    explicit WidgetSwitches(const MainWindowUi& ui) : m_ui(ui) {}

    bool ShowRequests() const override { return Ticked(m_ui.chkShowRequests); }
    bool ReplaceEnye() const override { return Ticked(m_ui.chkReplaceEnye); }
    bool GenerateStudyUid() const override { return Ticked(m_ui.chkGenStudyUID); }
    bool Trace() const override { return Ticked(m_ui.chkTrace); }
    bool ReturnThisQuery() const override { return Ticked(m_ui.chkReturnThis); }
    QString SqlBoxText() const override { return m_ui.txtSQLStr->toPlainText(); }
    QString InstitutionBoxText() const override { return m_ui.txtInstName->text(); }
    QString Hl7FolderText() const override { return m_ui.txtHL7Folder->text(); }

private:
    // A grayed box counts as not ticked.
    static bool Ticked(const QCheckBox* box) { return box->checkState() == Qt::Checked; }

    const MainWindowUi& m_ui;
};
