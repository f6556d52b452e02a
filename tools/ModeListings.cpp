#include "tools/ModeListings.h"

#include <QApplication>

#include "tools/TextBoxText.h"
#include "worklist/SourceFor.h"
#include "worklist/bramwoods/OrderFileSource.h"

ModeListings::ModeListings(ToolsWorker& tools, ActivityLog& log, StatusView& status,
                           const QuerySettings& settings, ListingControls controls,
                           Sink showMessage)
    : m_tools(tools),
      m_log(log),
      m_status(status),
      m_settings(settings),
      m_controls(controls),
      m_showMessage(std::move(showMessage)) {}

void ModeListings::cmdTest_Click() {
    m_log.Replace(QString());
    const QString modalityBox = m_controls.txtModality.text();
    Listing([this, modalityBox](HisConnection& his, const QuerySnapshot& settings) {
        List(his, settings, modalityBox);
    });
}

void ModeListings::cmdDoneExams_Click() {
    m_log.Replace(QString());
    Listing([this](HisConnection& his, const QuerySnapshot& settings) { ListDone(his, settings); });
}

void ModeListings::Listing(ToolsWorker::Job job) {
    m_controls.cmdTest.setEnabled(false);
    m_controls.cmdDoneExams.setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_tools.Run([this, job = std::move(job)](HisConnection& his, const QuerySnapshot& settings) {
        ToolsWorker::Guarded(his, m_log, [&] { job(his, settings); });
        m_tools.ToWindow([this] {
            QApplication::restoreOverrideCursor();
            m_controls.cmdTest.setEnabled(true);
            m_controls.cmdDoneExams.setEnabled(true);
        });
    });
}

// Tools thread.
void ModeListings::List(HisConnection& his, const QuerySnapshot& settings,
                        const QString& modalityBox) {
    const WorklistSource& source = SourceFor(settings.mode);
    const ListingPlan plan = source.Listing(modalityBox, source.DialectOf(his.Dialect()));
    if (plan.listsOrderFolder) {
        OrderFileSource::ListHL7Folder(
            settings.switches.hl7FolderText, m_log,
            [this](const QString& text) {
                m_tools.ToWindow([this, text] { AppendToBox(m_controls.Text1, text); });
            },
            [this](const QString& text) { m_tools.ToWindow([this, text] { m_showMessage(text); }); });
        return;
    }
    if (plan.statement.isEmpty()) return;
    if (plan.showsStatement) m_status.ShowSql(plan.statement);
    LogLines(source, his, plan.statement);
}

void ModeListings::ListDone(HisConnection& his, const QuerySnapshot& settings) {
    const WorklistSource& source = SourceFor(settings.mode);
    if (const auto sql = source.DoneExamsStatement(source.DialectOf(his.Dialect())))
        LogLines(source, his, *sql);
}

void ModeListings::LogLines(const WorklistSource& source, HisConnection& his, const QString& sql) {
    his.EnsureCurrent();
    const std::unique_ptr<Recordset> records = his.Execute(sql);
    while (!records->Eof()) {
        m_log.Log(source.ListingLine(*records));
        records->MoveNext();
    }
}
