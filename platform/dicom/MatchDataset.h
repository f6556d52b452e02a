#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <memory>
#include <string>
#include <vector>

#include "platform/dicom/DicomDataset.h"
#include "platform/dicom/DicomTag.h"
#include "platform/dicom/DicomText.h"
#include "platform/dicom/LegalValue.h"

// One match on its way to the modality: attributes in tag order, each value
// already in its wire form (text in the match's encoding, DA as YYYYMMDD, TM
// as HHMMSS), so that building a match allocates little and sending it is
// copying bytes. A value in wire form can be made once and given to many
// matches (it is shared, not copied).
class MatchDataset {
public:
    explicit MatchDataset(TextEncoding encoding = TextEncoding::Latin1) : m_encoding(encoding) {}

    TextEncoding Encoding() const { return m_encoding; }

    // Adds or replaces an attribute, its value made legal for the VR first
    // (LegalWireValue); returns what had to change. Throws MwlError for text
    // given to a sequence.
    ValueFixes Add(Tag tag, const QVariant& value);
    // Room for this many attributes without growing.
    void Reserve(size_t elements);
    // Adds or replaces an attribute with a value already in wire form.
    void AddWire(Tag tag, QByteArray wire);
    // Keeps `owner` alive as long as this match: values given as raw data
    // (QByteArray::fromRawData) may point into it.
    void KeepAlive(std::shared_ptr<const void> owner) { m_owner = std::move(owner); }
    // Adds a sequence without items, or empties an existing one.
    void AddEmptySequence(Tag tag);
    // Appends an empty item to the sequence (creating it). The reference
    // stays valid until that sequence changes again.
    MatchDataset& AddSequenceItem(Tag tag);
    // The index-th item of a sequence; null when there is none.
    MatchDataset* SequenceItem(Tag tag, size_t index = 0);
    // The tags, each empty (a sequence without items): made once for a query
    // and given to AddMissingFrom for every match.
    static MatchDataset EmptiesOf(const std::vector<Tag>& tags);
    // Adds each attribute of `empties` that the match does not hold; when
    // `added` is given, appends their tags to it in ascending order.
    void AddMissingFrom(const MatchDataset& empties, std::vector<Tag>* added = nullptr);

    bool Contains(Tag tag) const;
    // The value as the toolkit reads it back: each value without the blanks
    // its VR does not keep; "" when absent.
    QString Text(Tag tag) const;

    // Appends the dataset in explicit or implicit VR little endian to `out`.
    // A match whose text leaves ASCII declares the Specific Character Set it
    // is encoded in ("ISO_IR 100" or "ISO_IR 192") when it declares none.
    void Encode(bool explicitVr, std::string& out) const;
    // The dataset as the toolkit reads it (for tests and tools).
    DicomDataset ToDataset() const;

private:
    struct Element;
    const Element* Find(quint32 key) const;
    Element& Put(Tag tag);
    static Element NewElement(Tag tag);
    bool UsesExtendedCharacters() const;
    void EncodeElements(bool explicitVr, std::string& out) const;

    TextEncoding m_encoding;
    std::vector<Element> m_elements;
    std::shared_ptr<const void> m_owner;
};

// The VR facts come from the toolkit's dictionary when the attribute is
// first added.
struct MatchDataset::Element {
    quint32 key = 0;  // group << 16 | element
    char vr[2] = {'U', 'N'};
    bool extendedLength = false;  // explicit VR: reserved bytes and a 32-bit length
    bool characterSetText = false;
    bool keepsLeadingBlanks = false;
    char padding = ' ';
    bool sequence = false;
    QByteArray value;
    std::vector<MatchDataset> items;
};
