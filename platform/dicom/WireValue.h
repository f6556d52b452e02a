#pragma once

#include <dcmtk/dcmdata/dcvr.h>

#include <QByteArray>
#include <QVariant>

#include "platform/dicom/DicomTag.h"

// What the encoder needs to know of an attribute's VR, from the toolkit's
// dictionary, looked up once per attribute.
struct VrInfo {
    char name[2];
    DcmEVR evr;
    bool extendedLength;  // explicit VR: two reserved bytes and a 32-bit length
    bool keepsLeadingBlanks;
    bool characterSetText;  // text that Specific Character Set applies to
    char padding;
    bool singleValued;  // the dictionary allows one value only
    int maxBytes;       // the longest value the VR allows; 0: no limit
};

const VrInfo& InfoOf(Tag tag);

// Throws MwlError: the value does not fit the attribute.
[[noreturn]] void Mismatch(Tag tag, const QVariant& value);

// The wire form of a value for the attribute, by the rules of
// DicomDataset::Add and as the toolkit keeps it: text up to a NUL
// character, without trailing blanks (a UID without any white space).
// Throws MwlError when the value does not fit the attribute.
QByteArray WireValue(Tag tag, const QVariant& value);
