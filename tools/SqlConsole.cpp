#include "tools/SqlConsole.h"

#include "platform/his/FieldText.h"
#include "tools/TextBoxText.h"

namespace {
// Lines go to the window in batches of this many.
constexpr int kLinesPerBatch = 200;
}  // namespace

SqlConsole::SqlConsole(ToolsWorker& tools, ActivityLog& log, const QuerySettings& settings,
                       QPlainTextEdit& txtSQLStr, QPlainTextEdit& txtSQLResult,
                       QPushButton& cmdRunSQL)
    : m_tools(tools),
      m_log(log),
      m_settings(settings),
      m_sqlBox(txtSQLStr),
      m_resultBox(txtSQLResult),
      m_runButton(cmdRunSQL) {}

void SqlConsole::cmdQueryStr_Click() { m_sqlBox.setPlainText(m_settings.Current()->BaseSQL); }

// Fields are read in the order of the line, so a missing column is reported
// as the first one the line needs.
QString SqlConsole::RecordLine(const Recordset& record) {
    const QString separator = QStringLiteral(" , ");
    QString line = QStringLiteral("   ") + DisplayField(record, "TranD");
    line += separator + DisplayField(record, "RequestNum");
    line += separator + DisplayField(record, "HN");
    line += separator + DisplayField(record, "MLN");
    line += QLatin1Char('^') + DisplayField(record, "MFN") + QStringLiteral("^^");
    line += separator + DisplayField(record, "MASBirthDate");
    line += separator + DisplayField(record, "MASS");
    return line;
}

void SqlConsole::cmdRunSQL_Click() {
    m_runButton.setEnabled(false);
    const QString sql = m_sqlBox.toPlainText();
    m_tools.Run([this, sql](HisConnection& his, const QuerySnapshot&) {
        ToolsWorker::Guarded(his, m_log, [&] { Run(his, sql); });
        m_tools.ToWindow([this] { m_runButton.setEnabled(true); });
    });
}

// Tools thread. Every run ends with a line in the log saying what it did;
// a statement without rows (an UPDATE) shows how many rows it changed.
void SqlConsole::Run(HisConnection& his, const QString& sql) {
    QString lines;
    qint64 count = 0;
    std::optional<qint64> changed;
    try {
        his.EnsureCurrent();
        const std::unique_ptr<Recordset> records = his.Execute(sql);
        changed = records->RowsChanged();
        while (!records->Eof()) {
            lines += QStringLiteral("\r\n") + RecordLine(*records);
            if (++count % kLinesPerBatch == 0) Show(std::exchange(lines, QString()));
            records->MoveNext();
        }
    } catch (...) {
        Show(lines);
        throw;
    }
    if (changed) lines = QStringLiteral("\r\n   ") + ChangedText(*changed);
    Show(lines);
    m_log.Log(QStringLiteral("SQL console: %1.").arg(changed ? ChangedText(*changed)
                                                           : ListedText(count)));
}

QString SqlConsole::ChangedText(qint64 rows) {
    if (rows < 0) return QStringLiteral("the statement ran; the HIS does not say how many rows it changed");
    return QStringLiteral("%1 %2 changed").arg(rows).arg(QLatin1String(rows == 1 ? "row" : "rows"));
}

QString SqlConsole::ListedText(qint64 records) {
    if (records == 0) return QStringLiteral("the statement returned no records");
    return QStringLiteral("%1 %2 listed").arg(records).arg(QLatin1String(records == 1 ? "record" : "records"));
}

void SqlConsole::Show(const QString& lines) {
    if (lines.isEmpty()) return;
    m_tools.ToWindow([this, lines] { AppendToBox(m_resultBox, lines); });
}
