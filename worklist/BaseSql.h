#pragma once

#include <QString>

// The fixed head of the statement of the PELTA, CORVANTE and ORVELLINE
// back-ends; empty for the others.
QString BaseSqlFor(const QString& connectionMode);

// The CORVANTE entries marked done, valid or not.
QString CorvanteDoneExamsSql();
