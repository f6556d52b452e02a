#pragma once

#include "app/MainWindowUi.h"
#include "worklist/StatusView.h"

// The communication label and the SQL box of the main window.
class WidgetStatusView : public StatusView {
public:
    explicit WidgetStatusView(const MainWindowUi& ui) : m_ui(ui) {}

    void SetCommState(const QString& text) override { m_ui.lblComm->setText(text); }
    void ShowSql(const QString& sql) override { m_ui.txtSQLStr->setPlainText(sql); }

private:
    const MainWindowUi& m_ui;
};
