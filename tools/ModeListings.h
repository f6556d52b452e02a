#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <functional>

#include "platform/ActivityLog.h"
#include "platform/his/Recordset.h"
#include "tools/ToolsWorker.h"
#include "worklist/QuerySettings.h"
#include "worklist/StatusView.h"
#include "worklist/WorklistSource.h"

// The controls of the log page the listings use.
struct ListingControls {
    QPlainTextEdit& Text1;
    QLineEdit& txtModality;
    QPushButton& cmdTest;
    QPushButton& cmdDoneExams;
};

// "Test" and "Exams Done...": list the selected back-end's open orders, or
// the entries marked done, into the activity log, one line per record. They
// run on the tools' thread; both buttons stay disabled (and the pointer
// waits) until the listing is over, so a second click cannot start another
// listing over the same log.
class ModeListings {
public:
    using Sink = std::function<void(const QString&)>;

    ModeListings(ToolsWorker& tools, ActivityLog& log, StatusView& status,
                 const QuerySettings& settings, ListingControls controls, Sink showMessage);

    void cmdTest_Click();
    void cmdDoneExams_Click();

private:
    void List(HisConnection& his, const QuerySnapshot& settings, const QString& modalityBox);
    void ListDone(HisConnection& his, const QuerySnapshot& settings);
    void LogLines(const WorklistSource& source, HisConnection& his, const QString& sql);
    // Runs one listing with the buttons disabled.
    void Listing(ToolsWorker::Job job);

    ToolsWorker& m_tools;
    ActivityLog& m_log;
    StatusView& m_status;
    const QuerySettings& m_settings;
    ListingControls m_controls;
    Sink m_showMessage;
};
