#pragma once

class DcmItem;

// A match whose text uses characters beyond ASCII must say which character
// set it is in, or the modality reads the names in the default repertoire.
// Adds Specific Character Set "ISO_IR 100" (the set every response is encoded
// in) when any text value holds such a byte and the match has none yet.
void DeclareCharacterSetIfNeeded(DcmItem& match);
