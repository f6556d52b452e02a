#pragma once

#include <QString>
#include <functional>

#include "mpps/PerformedStep.h"
#include "mpps/StepSettings.h"
#include "platform/QueryBudget.h"
#include "platform/his/HisConnection.h"
#include "worklist/QuerySnapshot.h"

class OrderFileCache;
class WorklistSource;

// Tells the HIS of the connection mode what became of a performed step:
// runs the state's statement once per Scheduled Step Attributes item, with
// the item's values bound to its named parameters; or, for order files,
// moves the files of a COMPLETED step's accession numbers to the done
// folder. Uses its own HIS connection, on one thread.
class StepWriteBack {
public:
    StepWriteBack(HisConnection& his, OrderFileCache& orderFiles, const StepSettings& settings)
        : m_his(his), m_orderFiles(orderFiles), m_settings(settings) {}

    // Writes back the state of the step under the snapshot's mode, from the
    // item step.writtenItems on; itemDone gets the number of items done
    // after each. Returns what was done, for the log. Throws MwlError when
    // the HIS or the file system fails.
    QString Run(const PerformedStep& step, StepState state, const QuerySnapshot& snapshot,
                const QueryBudget& budget, const std::function<void(int)>& itemDone);

    // The statement for the state: the site's setting, else the mode's default.
    QString StatementFor(StepState state, const WorklistSource& source) const;

private:
    QString RunStatement(const PerformedStep& step, StepState state, const QString& statement,
                         const QuerySnapshot& snapshot, const QueryBudget& budget,
                         const std::function<void(int)>& itemDone);
    QString MoveOrderFiles(const PerformedStep& step, const QuerySnapshot& snapshot);
    QString DoneFolder(const QString& orderFolder) const;

    HisConnection& m_his;
    OrderFileCache& m_orderFiles;
    const StepSettings& m_settings;
    quint64 m_followed = ~quint64(0);  // the connection generation in use
};
