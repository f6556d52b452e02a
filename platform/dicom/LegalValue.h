#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "platform/dicom/DicomTag.h"
#include "platform/dicom/DicomText.h"

// What had to change in a value to make it legal for its attribute's VR.
namespace ValueFix {
enum : unsigned {
    Cut = 1u << 0,                // longer than the VR allows
    ControlCharacters = 1u << 1,  // removed (blanks for tab and line ends)
    Backslash = 1u << 2,          // inside the one value of a single-valued attribute
    NameStructure = 1u << 3,      // more than five name components or three name groups
    Repertoire = 1u << 4,         // a code string's letter case or characters
    Sex = 1u << 5,                // Patient's Sex read as M, F or O, or emptied
    NotDateOrTime = 1u << 6,      // no real date or time: sent empty
};
}  // namespace ValueFix
using ValueFixes = unsigned;

// The one place where a value becomes legal for its attribute before it goes
// into a match, whatever the HIS or an order file holds:
// - a NUL ends the value (as the toolkit keeps text);
// - no control characters: tab and line ends become blanks, the others are
//   removed (ST, LT and UT keep tab, line feed, form feed and carriage
//   return; ESC belongs to ISO 2022 code extensions, which no match uses);
// - a single-valued attribute gets "/" for a "\" inside its value;
// - a person name keeps at most three groups of at most five components;
//   further ones join the last with a blank;
// - a code string (CS) is upper case and holds only A-Z, 0-9, blank and "_"
//   ("_" for anything else); Patient's Sex is M, F or O read from a letter or
//   word in any case (MALE, WOMAN, OTHER...), empty otherwise;
// - AE titles hold printable ASCII, UIDs digits and dots only;
// - DA, TM and DT are real dates and times written YYYYMMDD, HHMMSS and
//   YYYYMMDDHHMMSS, or empty;
// - each value is cut to the VR's maximum length in bytes (a person name's
//   groups together), on a character boundary, and loses its trailing
//   blanks.
// Text is then encoded in ISO 8859-1 ("?" for characters outside it) or
// UTF-8. `fixes` gains what was changed. Throws MwlError only for a value
// that no rule makes fit (text for a sequence).
QByteArray LegalWireValue(Tag tag, const QVariant& value, TextEncoding encoding, ValueFixes& fixes);

// A person name from its components, joined by "^" with every separator
// inside a component ("^", "=", "\") turned into a blank.
QString PersonNameOf(const QStringList& components, ValueFixes& fixes);

// For the log, never the value: "PatientSex (0010,0040), CS: not M, F or O,
// sent empty".
QString DescribeFixes(Tag tag, ValueFixes fixes);
