#include "app/MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>

#include "app/SecurityView.h"
#include "app/SignalWatcher.h"
#include "app/WidgetSwitches.h"
#include "platform/ErrorTrap.h"
#include "tools/MessageBoxes.h"

namespace {
// The design's client area, 16410 x 10950 twips.
constexpr int kDesignWidth = 1094;
constexpr int kDesignHeight = 730;
}  // namespace

MainWindow::MainWindow(ServerRuntime& runtime, ProgramFile program, QWidget* parent)
    : QWidget(parent),
      m_runtime(runtime),
      m_ui(*this),
      m_status(m_ui, this),
      m_strip(m_ui, runtime.Status()),
      m_tools(std::make_unique<ToolsWorker>(
          [&runtime] { return runtime.MakeHisConnection(); }, runtime.Settings(),
          [&runtime] { return runtime.QueryTimeoutSeconds(); }, this)),
      m_logView(runtime.Log(), *m_ui.Logger),
      m_stepList(runtime.PerformedSteps(), *m_ui.tblSteps),
      m_options(m_ui, runtime, [this](const QString& text) { ShowMessage(text); }),
      m_queryClient(
          {*m_ui.RemoteNode, *m_ui.RemotePort, *m_ui.RemoteAE, *m_ui.txtLastname,
           *m_ui.txtAccessionNumber, *m_ui.txtHospNum, *m_ui.cmdQuery, *m_ui.txtQueryResult},
          [this](const QString& text) { ShowMessage(text); }),
      m_console(*m_tools, runtime.Log(), runtime.Settings(), *m_ui.txtSQLStr, *m_ui.txtSQLResult,
                *m_ui.cmdRunSQL),
      m_listings(*m_tools, runtime.Log(), m_status, runtime.Settings(),
                 {*m_ui.Text1, *m_ui.txtModality, *m_ui.cmdTest, *m_ui.cmdDoneExams},
                 [this](const QString& text) { ShowMessage(text); }),
      m_updateView(*this, *m_ui.fraPlsWait, *m_ui.cmdDLLUpdate, [this] { EndProgram(); }),
      m_update(runtime.Store(), runtime.Log(), m_updateView, std::move(program)) {
    setObjectName(QStringLiteral("MWLServer"));
    setWindowTitle(MainWindowUi::Caption());
    resize(kDesignWidth, kDesignHeight);
    m_runtime.Attach(m_status);
    BindSwitches();
    connect(m_ui.SSTab1, &QTabWidget::currentChanged, this, &MainWindow::SSTab1_Click);
    connect(m_ui.cmdQuery, &QPushButton::clicked, this, [this] { m_queryClient.cmdQuery_Click(); });
    connect(m_ui.cmdQueryStr, &QPushButton::clicked, this,
            [this] { m_console.cmdQueryStr_Click(); });
    connect(m_ui.cmdRunSQL, &QPushButton::clicked, this, [this] { m_console.cmdRunSQL_Click(); });
    connect(m_ui.cmdTest, &QPushButton::clicked, this, [this] { m_listings.cmdTest_Click(); });
    connect(m_ui.cmdDoneExams, &QPushButton::clicked, this,
            [this] { m_listings.cmdDoneExams_Click(); });
    connect(m_ui.cmdDLLUpdate, &QPushButton::clicked, this, &MainWindow::cmdDLLUpdate_Click);
}

MainWindow::~MainWindow() { m_tools.reset(); }

void MainWindow::BindSwitches() {
    for (QCheckBox* box : {m_ui.chkShowRequests, m_ui.chkReplaceEnye, m_ui.chkGenStudyUID,
                           m_ui.chkTrace, m_ui.chkReturnThis})
        connect(box, &QCheckBox::stateChanged, this, &MainWindow::SwitchesChanged);
    connect(m_ui.txtSQLStr, &QPlainTextEdit::textChanged, this, &MainWindow::SwitchesChanged);
    for (QLineEdit* box : {m_ui.txtInstName, m_ui.txtHL7Folder})
        connect(box, &QLineEdit::textChanged, this, &MainWindow::SwitchesChanged);
}

void MainWindow::SwitchesChanged() {
    const Switches switches = WidgetSwitches(m_ui);
    m_runtime.Settings().Change([&](QuerySnapshot& snapshot) { snapshot.switches = switches; });
}

QString MainWindow::Title() {
    return MainWindowUi::Caption() + QStringLiteral(" v.%1.%2.%3")
                                         .arg(MWL_VERSION_MAJOR)
                                         .arg(MWL_VERSION_MINOR)
                                         .arg(MWL_VERSION_PATCH);
}

void MainWindow::Load() {
    if (m_loaded) return;
    m_loaded = true;
    const auto report = [this](const QString& why) {
        m_runtime.Log().Log(why);
        ShowMessage(why);
    };
    Trapped(
        [&] {
            m_ui.SSTab1->setCurrentIndex(0);
            setWindowTitle(Title());
            ServerRuntime::LoadHooks hooks;
            hooks.showMessage = [this](const QString& text) { ShowMessage(text); };
            hooks.settingsRestored = [this] { m_options.ShowRestored(); };
            hooks.servicePrepared = [this] {
                m_options.ShowPrepared();
                ShowSecurity(m_ui, m_runtime.Security());
            };
            hooks.switches = [this] { return WidgetSwitches(m_ui); };
            hooks.stopRequested = [] { return SignalWatcher::StopRequested(); };
            m_runtime.Load(hooks);
        },
        report);
}

void MainWindow::ShowMessage(const QString& text) { MessageBoxes::Warn(*this, text); }

void MainWindow::SSTab1_Click(int index) { m_ui.fraLog->setVisible(index == 0); }

void MainWindow::cmdDLLUpdate_Click() { m_update.Run(); }

void MainWindow::EndProgram() {
    m_runtime.StopListening();
    m_stopConfirmed = true;
    QCoreApplication::quit();
}

// The application closes its windows on its way out as well (a stop signal,
// the update): only the operator's own close is asked about.
void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_stopConfirmed || SignalWatcher::StopRequested()) {
        event->accept();
        emit Closed();
        return;
    }
    event->ignore();
    // One question at a time; an answered one may not be deleted yet.
    if (m_stopQuestion && m_stopQuestion->isVisible()) {
        m_stopQuestion->raise();
        return;
    }
    m_stopQuestion = MessageBoxes::Ask(*this, StopQuestion(), [this](bool yes) {
        if (!yes) return;
        m_stopConfirmed = true;
        close();
    });
}
