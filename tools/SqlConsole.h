#pragma once

#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>

#include "platform/ActivityLog.h"
#include "platform/his/HisConnection.h"
#include "platform/his/Recordset.h"
#include "worklist/ServiceState.h"

// The database test console of the "&Test" page: runs the SQL box's statement
// on the HIS connection and appends one line per record to the result box.
// A failure goes to the activity log and reopens the connection; the lines
// already written stay.
class SqlConsole {
public:
    SqlConsole(HisConnection& his, ActivityLog& log, const ServiceState& state,
               QPlainTextEdit& txtSQLStr, QPlainTextEdit& txtSQLResult, QPushButton& cmdRunSQL);

    // "Use Default SQL": the mode's base statement replaces the box's text.
    void cmdQueryStr_Click();
    // "&Test".
    void cmdRunSQL_Click();

    // Three spaces, then TranD, RequestNum, HN, "MLN^MFN^^", MASBirthDate and
    // MASS joined by " , "; NULL reads as "".
    static QString RecordLine(const Recordset& record);

private:
    void Run(const QString& sql);

    HisConnection& m_his;
    ActivityLog& m_log;
    const ServiceState& m_state;
    QPlainTextEdit& m_sqlBox;
    QPlainTextEdit& m_resultBox;
    QPushButton& m_runButton;
};
