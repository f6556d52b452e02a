#include "app/MainWindow.h"

#include <QCloseEvent>
#include <QMessageBox>

#include "app/ErrorTrap.h"

namespace {
// The design's client area, 16410 x 10950 twips.
constexpr int kDesignWidth = 1094;
constexpr int kDesignHeight = 730;
}  // namespace

MainWindow::MainWindow(ServerRuntime& runtime, QWidget* parent)
    : QWidget(parent),
      m_runtime(runtime),
      m_ui(*this),
      m_switches(m_ui),
      m_status(m_ui),
      m_logView(runtime.Log(), *m_ui.Logger),
      m_options(m_ui, runtime, [this](const QString& text) { ShowMessage(text); }) {
    setObjectName(QStringLiteral("MWLServer"));
    setWindowTitle(MainWindowUi::Caption());
    resize(kDesignWidth, kDesignHeight);
    m_runtime.Attach(m_switches, m_status);
    connect(m_ui.SSTab1, &QTabWidget::currentChanged, this, &MainWindow::SSTab1_Click);
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
            hooks.servicePrepared = [this] { m_options.ShowPrepared(); };
            m_runtime.Load(hooks);
        },
        report);
}

void MainWindow::ShowMessage(const QString& text) {
    auto* box =
        new QMessageBox(QMessageBox::Warning, MainWindowUi::Caption(), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void MainWindow::SSTab1_Click(int index) { m_ui.fraLog->setVisible(index == 0); }

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    emit Closed();
}
