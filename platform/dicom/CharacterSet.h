#pragma once

#include <QString>

class DcmDataset;
class DcmItem;

// A dataset whose text uses characters beyond ASCII must say which character
// set it is in, or the peer reads the names in the default repertoire. Adds
// Specific Character Set "ISO_IR 100" (the set our text is encoded in) when
// any text value holds such a byte and the dataset has none yet. (Matches
// get the same from MatchDataset::Encode.)
void DeclareCharacterSetIfNeeded(DcmItem& match);

// Converts the text values of a received dataset from the character set it
// declares to UTF-8, and declares "ISO_IR 192" instead. The toolkit converts
// every set its character set library knows; Japanese with ISO 2022 code
// extensions for kanji (ISO 2022 IR 87 and IR 159), which the C library's
// conversion does not know by those names, goes through EUC-JP. Returns false
// and leaves the dataset unchanged when it cannot convert; `problem` then
// says why.
bool ConvertToUtf8(DcmDataset& dataset, QString& problem);
