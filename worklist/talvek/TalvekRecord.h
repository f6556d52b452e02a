#pragma once

#include <QString>

#include "platform/his/Recordset.h"

class MatchFill;

// The order record of the TALVEK schema, which PELTA's statement delivers
// too: how it fills a worklist item and how the "Test" listing shows it.
namespace TalvekRecord {

// Birth date, sex, other patient IDs, physicians, procedure and the order's
// dates, between the head and the tail of the item. With clinicColumns, a
// patient registered at the clinic (a "T" number) has birth date and sex in
// the clinic's own columns.
void Fill(MatchFill& fill, bool clinicColumns);

QString ListingLine(const Recordset& record);

}  // namespace TalvekRecord
