#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <functional>

#include "platform/ActivityLog.h"
#include "platform/his/HisConnection.h"
#include "platform/his/Recordset.h"
#include "worklist/ServiceState.h"
#include "worklist/StatusView.h"

// The controls of the log page the listings use.
struct ListingControls {
    QPlainTextEdit& Logger;
    QPlainTextEdit& Text1;
    QLineEdit& txtModality;
    QPushButton& cmdTest;
    QPushButton& cmdDoneExams;
};

// "Test" and "Exams Done...": list the selected back-end's open orders, or
// the CORVANTE entries marked done, into the activity log, one line per
// record. Both buttons stay disabled while a listing runs, since its yields
// would let a second click start another listing over the same log.
class ModeListings {
public:
    using Yield = std::function<void()>;
    using Sink = std::function<void(const QString&)>;
    // Lists the order folder: the paths go to the first sink, messages to
    // the second.
    using FolderListing = std::function<void(const Sink& appendToListing, const Sink& showMessage)>;

    ModeListings(HisConnection& his, ActivityLog& log, StatusView& status,
                 const ServiceState& state, ListingControls controls, FolderListing ListHL7Folder,
                 Sink showMessage, Yield yield);

    void cmdTest_Click();
    void cmdDoneExams_Click();

private:
    void ListTalvekOrders();
    void ListPeltaOrders();
    void ListCorvanteOrders();
    void ListOrvellineOrders();
    using LineOf = QString (*)(const Recordset&);
    // Runs the statement and logs one line per record, yielding after each
    // record when asked.
    void LogRecords(const QString& sql, LineOf line, bool yieldPerRecord);
    void LogLines(Recordset& records, LineOf line, bool yieldPerRecord);
    // Runs one listing with the buttons disabled; a failure is logged and
    // reopens the HIS connection.
    void Guarded(const std::function<void()>& listing);

    HisConnection& m_his;
    ActivityLog& m_log;
    StatusView& m_status;
    const ServiceState& m_state;
    ListingControls m_controls;
    FolderListing m_listHL7Folder;
    Sink m_showMessage;
    Yield m_yield;
};
