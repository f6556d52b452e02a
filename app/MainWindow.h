#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "app/LogView.h"
#include "app/MainWindowUi.h"
#include "app/OptionsBinding.h"
#include "app/ServerRuntime.h"
#include "app/StatusStrip.h"
#include "app/StepListView.h"
#include "app/WidgetStatusView.h"
#include "app/WidgetSwitches.h"
#include "tools/ModeListings.h"
#include "tools/SqlConsole.h"
#include "tools/ToolsWorker.h"
#include "tools/WorklistTestClient.h"
#include "update/ProgramUpdate.h"
#include "update/WindowUpdateView.h"

// The main window "MWLServer": a view over the running service. It shows the
// activity log and the status strip, lends its controls to the service as
// switches and status view, binds the options to the settings store, and
// wires the operator's tools and the program update to their buttons.
// Closing it stops the worklist service for every modality, so the operator
// is asked first; a stop signal (the service manager's) and the update end it
// without a question.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    // program is the file the program update replaces.
    explicit MainWindow(ServerRuntime& runtime, ProgramFile program = ProgramFile::Running(),
                        QWidget* parent = nullptr);
    // The tools' thread ends first: no job outlives the tools it reports to.
    ~MainWindow() override;

    // The load sequence: the first tab, the title with the version, then the
    // service's own load, with the boxes filled between its steps. Runs once.
    void Load();
    // A message box that does not wait for the operator, so the service
    // keeps loading and serving while it is shown.
    void ShowMessage(const QString& text);

    static QString StopQuestion() { return QStringLiteral("Stop the worklist service?"); }

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
    // Every control a query reads changes the snapshot the next query takes.
    void BindSwitches();
    void SwitchesChanged();
    void cmdDLLUpdate_Click();
    // The update has started the new program: the listener closes at once,
    // so the port is free for it, and the program ends.
    void EndProgram();

    ServerRuntime& m_runtime;
    MainWindowUi m_ui;
    WidgetStatusView m_status;
    StatusStrip m_strip;
    std::unique_ptr<ToolsWorker> m_tools;
    LogView m_logView;
    StepListView m_stepList;
    OptionsBinding m_options;
    WorklistTestClient m_queryClient;
    SqlConsole m_console;
    ModeListings m_listings;
    WindowUpdateView m_updateView;
    ProgramUpdate m_update;
    QPointer<QMessageBox> m_stopQuestion;
    bool m_stopConfirmed = false;  // the window closes without asking
    bool m_loaded = false;
};
