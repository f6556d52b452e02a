#pragma once

#include <QWidget>

#include "app/LogView.h"
#include "app/MainWindowUi.h"
#include "app/OptionsBinding.h"
#include "app/ServerRuntime.h"
#include "app/WidgetStatusView.h"
#include "app/WidgetSwitches.h"

// The main window "MWLServer": a view over the running service. It shows the
// activity log, lends its controls to the service as switches and status
// view, and binds the options to the settings store. Later commands wire
// themselves to the controls through Ui().
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(ServerRuntime& runtime, QWidget* parent = nullptr);

    // The load sequence: the first tab, the title with the version, then the
    // service's own load, with the boxes filled between its steps. Runs once.
    void Load();
    // A message box that does not wait for the operator, so the service
    // keeps loading and serving while it is shown.
    void ShowMessage(const QString& text);

    const MainWindowUi& Ui() const { return m_ui; }
    LogView& Log() { return m_logView; }
    // The designed caption, " v." and the major, minor and patch numbers.
    static QString Title();

signals:
    // The operator closed the window: the program ends.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void SSTab1_Click(int index);

    ServerRuntime& m_runtime;
    MainWindowUi m_ui;
    WidgetSwitches m_switches;
    WidgetStatusView m_status;
    LogView m_logView;
    OptionsBinding m_options;
    bool m_loaded = false;
};
