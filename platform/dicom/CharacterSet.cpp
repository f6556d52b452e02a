#include "platform/dicom/CharacterSet.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcvr.h>

namespace {

bool HasExtendedByte(DcmElement& element) {
    char* text = nullptr;
    if (element.getString(text).bad() || text == nullptr) return false;
    const Uint32 length = element.getLength();
    for (Uint32 i = 0; i < length; ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80) return true;
    return false;
}

bool UsesExtendedCharacters(DcmItem& item) {
    for (unsigned long i = 0; i < item.card(); ++i) {
        DcmElement* element = item.getElement(i);
        if (element->ident() == EVR_SQ) {
            auto* sequence = static_cast<DcmSequenceOfItems*>(element);
            for (unsigned long j = 0; j < sequence->card(); ++j)
                if (UsesExtendedCharacters(*sequence->getItem(j))) return true;
        } else if (DcmVR(element->ident()).isAffectedBySpecificCharacterSet() &&
                   HasExtendedByte(*element)) {
            return true;
        }
    }
    return false;
}

}  // namespace

void DeclareCharacterSetIfNeeded(DcmItem& match) {
    if (match.tagExists(DCM_SpecificCharacterSet) || !UsesExtendedCharacters(match)) return;
    match.putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 100");
}
