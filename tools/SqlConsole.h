#pragma once

#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>

#include "platform/ActivityLog.h"
#include "platform/his/Recordset.h"
#include "tools/ToolsWorker.h"
#include "worklist/QuerySettings.h"

// The database test console of the "&Test" page: runs the SQL box's statement
// on the tools' HIS connection, off the window's thread, and appends one line
// per record to the result box. A failure goes to the activity log and
// reopens the connection; the lines already written stay. "&Test" stays
// disabled while a statement runs.
class SqlConsole {
public:
    SqlConsole(ToolsWorker& tools, ActivityLog& log, const QuerySettings& settings,
               QPlainTextEdit& txtSQLStr, QPlainTextEdit& txtSQLResult, QPushButton& cmdRunSQL);

    // "Use Default SQL": the mode's base statement replaces the box's text.
    void cmdQueryStr_Click();
    // "&Test".
    void cmdRunSQL_Click();

    // Three spaces, then TranD, RequestNum, HN, "MLN^MFN^^", MASBirthDate and
    // MASS joined by " , "; NULL reads as "".
    static QString RecordLine(const Recordset& record);
    // "3 rows changed", for a statement that gives no rows.
    static QString ChangedText(qint64 rows);
    // "2 records listed", for one that gives rows.
    static QString ListedText(qint64 records);

private:
    void Run(HisConnection& his, const QString& sql);
    void Show(const QString& lines);

    ToolsWorker& m_tools;
    ActivityLog& m_log;
    const QuerySettings& m_settings;
    QPlainTextEdit& m_sqlBox;
    QPlainTextEdit& m_resultBox;
    QPushButton& m_runButton;
};
