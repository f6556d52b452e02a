#include "tools/SqlConsole.h"

#include "app/ErrorTrap.h"
#include "platform/his/FieldText.h"
#include "tools/ScopeExit.h"
#include "tools/TextBoxText.h"

namespace {

QString Field(const Recordset& record, const char* name) {
    return DisplayText(record.Field(QLatin1String(name)));
}

}  // namespace

SqlConsole::SqlConsole(HisConnection& his, ActivityLog& log, const ServiceState& state,
                       QPlainTextEdit& txtSQLStr, QPlainTextEdit& txtSQLResult,
                       QPushButton& cmdRunSQL)
    : m_his(his),
      m_log(log),
      m_state(state),
      m_sqlBox(txtSQLStr),
      m_resultBox(txtSQLResult),
      m_runButton(cmdRunSQL) {}

void SqlConsole::cmdQueryStr_Click() { m_sqlBox.setPlainText(m_state.BaseSQL); }

// Fields are read in the order of the line, so a missing column is reported
// as the first one the line needs.
QString SqlConsole::RecordLine(const Recordset& record) {
    const QString separator = QStringLiteral(" , ");
    QString line = QStringLiteral("   ") + Field(record, "TranD");
    line += separator + Field(record, "RequestNum");
    line += separator + Field(record, "HN");
    line += separator + Field(record, "MLN");
    line += QLatin1Char('^') + Field(record, "MFN") + QStringLiteral("^^");
    line += separator + Field(record, "MASBirthDate");
    line += separator + Field(record, "MASS");
    return line;
}

void SqlConsole::cmdRunSQL_Click() {
    m_runButton.setEnabled(false);
    const ScopeExit enable([this] { m_runButton.setEnabled(true); });
    Trapped([this] { Run(m_sqlBox.toPlainText()); },
            [this](const QString& why) {
                m_log.Log(why);
                m_his.Reopen();
            });
}

void SqlConsole::Run(const QString& sql) {
    const std::unique_ptr<Recordset> records = m_his.Execute(sql);
    while (!records->Eof()) {
        AppendToBox(m_resultBox, QStringLiteral("\r\n") + RecordLine(*records));
        records->MoveNext();
    }
}
