#include "app/WindowStateDump.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {
const char* const kVariable = "TALVEK_MWL_TEST_STATE_FILE";
constexpr int kIntervalMs = 100;
}  // namespace

std::unique_ptr<WindowStateDump> WindowStateDump::FromEnvironment(const MainWindow& window,
                                                                  const TextActivityLog& log) {
    const QString file = qEnvironmentVariable(kVariable);
    if (file.isEmpty()) return nullptr;
    return std::make_unique<WindowStateDump>(file, window, log);
}

WindowStateDump::WindowStateDump(QString file, const MainWindow& window, const TextActivityLog& log)
    : m_file(std::move(file)), m_window(window), m_log(log) {
    connect(&m_timer, &QTimer::timeout, this, &WindowStateDump::Write);
    m_timer.start(kIntervalMs);
}

// Written to a side file and renamed, so a reader never sees half a state.
void WindowStateDump::Write() {
    const MainWindowUi& ui = m_window.Ui();
    const QByteArray state = QJsonDocument(QJsonObject{
                                               {"title", m_window.windowTitle()},
                                               {"lblComm", ui.lblComm->text()},
                                               {"txtSQLStr", ui.txtSQLStr->toPlainText()},
                                               {"log", m_log.Text()},
                                           })
                                 .toJson();
    if (state == m_written) return;
    QSaveFile file(m_file);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(state);
    if (file.commit()) m_written = state;
}
