#pragma once

#include <QString>
#include <initializer_list>

#include "platform/his/Recordset.h"

// The pieces of the operators' listing lines ("Test", "Exams Done...").
namespace ListingLine {

// Every field, the first included, follows " , ".
QString Joined(std::initializer_list<QString> fields);
// "MLN^MFN^^".
QString NameField(const Recordset& record);
// The order's day without its time; an order without a readable date ends
// the listing.
QString DatePart(const Recordset& record);

}  // namespace ListingLine
