#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>
#include <vector>

#include "platform/dicom/DicomAttribute.h"
#include "platform/dicom/DicomTag.h"

class DcmDataset;
class DcmItem;

// A dataset or one item of a sequence inside a dataset. Copies share the
// underlying data; an item view keeps its whole dataset alive.
class DicomDataset {
public:
    // A new, empty dataset.
    DicomDataset();
    // Takes over a toolkit dataset (platform code only). Its text values are
    // decoded from the character set it declares.
    explicit DicomDataset(std::unique_ptr<DcmDataset> dataset);

    // Takes over a received toolkit dataset (platform code only) with its
    // text converted to UTF-8 (ISO_IR 192), so that datasets sent in
    // different character sets can be merged; one without a declared set is
    // read as ISO 8859-1.
    static DicomDataset InUtf8(std::unique_ptr<DcmDataset> dataset);
    // A copy that shares nothing with this dataset (of its root), for another
    // thread.
    DicomDataset Clone() const;
    // The dataset (or item) in Explicit VR Little Endian, and back; nothing
    // when the bytes cannot be read.
    QByteArray ToBytes() const;
    static std::optional<DicomDataset> FromBytes(const QByteArray& bytes);

    // Empty, or why the text values could not be decoded from the declared
    // character set (they are then read as ISO 8859-1).
    const QString& TextProblem() const { return m_textProblem; }
    // The dataset declares UTF-8 ("ISO_IR 192") as its Specific Character
    // Set; a received one converted to UTF-8 from another set does not.
    bool DeclaredUtf8() const;

    DicomAttribute Item(quint16 group, quint16 element) const;
    bool Contains(quint16 group, quint16 element) const;
    // Top-level attributes in the dataset's order.
    std::vector<DicomAttribute> Attributes() const;
    // The index-th item (from 0) of a sequence attribute, if there is one.
    std::optional<DicomDataset> SequenceItem(quint16 group, quint16 element,
                                             unsigned long index = 0) const;

    // Adds or replaces an attribute. The value may be a null QVariant (empty
    // value), text, a number, QDate, QTime or QDateTime; DA attributes are
    // written YYYYMMDD and TM attributes HHMMSS whatever form the value came
    // in. Text goes out in ISO 8859-1; characters outside it become "?".
    // Throws MwlError when the value does not fit the attribute.
    void Add(quint16 group, quint16 element, const QVariant& value);
    // Adds a sequence without items, or empties an existing one.
    void AddEmptySequence(quint16 group, quint16 element);
    // Appends a new empty item to the sequence (creating the sequence) and
    // returns a view of it.
    DicomDataset AddSequenceItem(quint16 group, quint16 element);
    // Every top-level attribute of the changes replaces this dataset's
    // attribute of the same tag, or is added; a sequence is replaced whole.
    void Replace(const DicomDataset& changes);
    // The number of items of a sequence attribute; 0 when absent.
    unsigned long SequenceItems(Tag tag) const;

    DicomAttribute Item(Tag tag) const { return Item(tag.group, tag.element); }
    bool Contains(Tag tag) const { return Contains(tag.group, tag.element); }
    std::optional<DicomDataset> SequenceItem(Tag tag, unsigned long index = 0) const {
        return SequenceItem(tag.group, tag.element, index);
    }
    void Add(Tag tag, const QVariant& value) { Add(tag.group, tag.element, value); }
    DicomDataset AddSequenceItem(Tag tag) { return AddSequenceItem(tag.group, tag.element); }

    // Patient ID and Patient's Name as text ("" when absent).
    QString PatientId() const;
    QString PatientName() const;

    // For platform code: the dataset at the root of this view.
    std::shared_ptr<DcmDataset> Root() const { return m_root; }

private:
    DicomDataset(std::shared_ptr<DcmDataset> root, DcmItem* item, bool utf8, bool converted);

    std::shared_ptr<DcmDataset> m_root;
    DcmItem* m_item;
    bool m_utf8 = false;
    bool m_converted = false;  // received in another set, converted to UTF-8
    QString m_textProblem;
};
