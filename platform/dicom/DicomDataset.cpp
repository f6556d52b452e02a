#include "platform/dicom/DicomDataset.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcostrmb.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dctag.h>

#include "platform/MwlError.h"
#include "platform/dicom/CharacterSet.h"
#include "platform/dicom/DicomText.h"
#include "platform/dicom/IdentifierReader.h"
#include "platform/dicom/WireValue.h"

namespace {

QString DeclaredCharacterSet(DcmDataset& dataset) {
    OFString charset;
    if (dataset.findAndGetOFStringArray(DCM_SpecificCharacterSet, charset).bad()) return QString();
    return QString::fromLatin1(charset.c_str()).trimmed();
}

// Text values are read as UTF-8 or as ISO 8859-1; a received dataset in any
// other character set is converted to UTF-8 first. Returns whether the values
// are UTF-8.
bool ReadAsUtf8(DcmDataset& dataset, const QString& declared, QString& problem) {
    if (declared.isEmpty() || declared == QLatin1String("ISO_IR 100") ||
        declared == QLatin1String("ISO_IR 6"))
        return false;
    if (declared == QLatin1String("ISO_IR 192")) return true;
    return ConvertToUtf8(dataset, problem);
}

[[noreturn]] void Mismatch(DcmTag tag, const QVariant& value) {
    throw MwlError(QStringLiteral("Type mismatch: '%1' does not fit %2 (%3).")
                       .arg(value.toString(), QString::fromLatin1(tag.getTagName()),
                            QString::fromLatin1(tag.getVRName())));
}

void Check(const OFCondition& status, DcmTag tag) {
    if (status.bad())
        throw MwlError(QStringLiteral("%1 (%2)").arg(QString::fromLatin1(status.text()),
                                                     QString::fromLatin1(tag.getTagName())));
}

}  // namespace

DicomDataset::DicomDataset() : m_root(std::make_shared<DcmDataset>()), m_item(m_root.get()) {}

DicomDataset::DicomDataset(std::unique_ptr<DcmDataset> dataset)
    : m_root(dataset ? std::shared_ptr<DcmDataset>(std::move(dataset))
                     : std::make_shared<DcmDataset>()),
      m_item(m_root.get()) {
    const QString declared = DeclaredCharacterSet(*m_root);
    m_utf8 = ReadAsUtf8(*m_root, declared, m_textProblem);
    m_converted = m_utf8 && declared != QLatin1String("ISO_IR 192");
}

bool DicomDataset::DeclaredUtf8() const {
    return !m_converted && DeclaredCharacterSet(*m_root) == QLatin1String("ISO_IR 192");
}

DicomDataset::DicomDataset(std::shared_ptr<DcmDataset> root, DcmItem* item, bool utf8,
                           bool converted)
    : m_root(std::move(root)), m_item(item), m_utf8(utf8), m_converted(converted) {}

DicomAttribute DicomDataset::Item(quint16 group, quint16 element) const {
    return DicomAttribute(m_item, group, element, m_utf8);
}

bool DicomDataset::Contains(quint16 group, quint16 element) const {
    return m_item->tagExists(DcmTagKey(group, element), OFFalse);
}

std::vector<DicomAttribute> DicomDataset::Attributes() const {
    std::vector<DicomAttribute> attributes;
    const unsigned long count = m_item->card();
    attributes.reserve(count);
    for (unsigned long i = 0; i < count; ++i) {
        const DcmTag& tag = m_item->getElement(i)->getTag();
        attributes.emplace_back(m_item, tag.getGroup(), tag.getElement(), m_utf8);
    }
    return attributes;
}

std::optional<DicomDataset> DicomDataset::SequenceItem(quint16 group, quint16 element,
                                                       unsigned long index) const {
    DcmItem* item = nullptr;
    if (m_item
            ->findAndGetSequenceItem(DcmTagKey(group, element), item,
                                     static_cast<signed long>(index))
            .bad() ||
        item == nullptr)
        return std::nullopt;
    return DicomDataset(m_root, item, m_utf8, m_converted);
}

void DicomDataset::Add(quint16 group, quint16 element, const QVariant& value) {
    const DcmTag tag(group, element);
    if (tag.getEVR() == EVR_SQ) {
        // A sequence takes no text; null or "" stands for "no items".
        if (!value.isNull() && !value.toString().isEmpty()) Mismatch(tag, value);
        AddEmptySequence(group, element);
        return;
    }
    if (value.isNull()) {
        Check(m_item->insertEmptyElement(tag, OFTrue), tag);
        return;
    }
    const QByteArray wire = WireValue({group, element}, value);
    Check(m_item->putAndInsertString(tag, wire.constData(), OFTrue), tag);
}

void DicomDataset::AddEmptySequence(quint16 group, quint16 element) {
    const DcmTag tag(group, element);
    Check(m_item->insertEmptyElement(tag, OFTrue), tag);
}

DicomDataset DicomDataset::AddSequenceItem(quint16 group, quint16 element) {
    DcmItem* item = nullptr;
    const DcmTag tag(group, element);
    Check(m_item->findOrCreateSequenceItem(tag, item, -2), tag);
    return DicomDataset(m_root, item, m_utf8, m_converted);
}

QString DicomDataset::PatientId() const { return Item(0x0010, 0x0020).Text(); }

QString DicomDataset::PatientName() const { return Item(0x0010, 0x0010).Text(); }

DicomDataset DicomDataset::InUtf8(std::unique_ptr<DcmDataset> dataset) {
    if (!dataset) dataset = std::make_unique<DcmDataset>();
    OFString charset;
    dataset->findAndGetOFStringArray(DCM_SpecificCharacterSet, charset);
    const QString declared = QString::fromLatin1(charset.c_str()).trimmed();
    QString problem;
    if (declared.isEmpty() || declared == QLatin1String("ISO_IR 6") ||
        declared == QLatin1String("ISO_IR 100")) {
        dataset->putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 100");
        ConvertToUtf8(*dataset, problem);
    }
    DicomDataset result(std::move(dataset));
    if (!problem.isEmpty()) result.m_textProblem = problem;
    return result;
}

DicomDataset DicomDataset::Clone() const {
    auto root = std::make_shared<DcmDataset>(*m_root);
    DicomDataset copy(root, root.get(), m_utf8, m_converted);
    copy.m_textProblem = m_textProblem;
    return copy;
}

QByteArray DicomDataset::ToBytes() const {
    DcmDataset copy;
    for (unsigned long i = 0; i < m_item->card(); ++i)
        copy.insert(static_cast<DcmElement*>(m_item->getElement(i)->clone()));
    const E_TransferSyntax syntax = EXS_LittleEndianExplicit;
    const Uint32 length = copy.calcElementLength(syntax, EET_ExplicitLength);
    QByteArray bytes(static_cast<qsizetype>(length), Qt::Uninitialized);
    DcmOutputBufferStream out(bytes.data(), length);
    copy.transferInit();
    const OFCondition written = copy.write(out, syntax, EET_ExplicitLength, nullptr);
    copy.transferEnd();
    void* buffer = nullptr;
    offile_off_t used = 0;
    out.flushBuffer(buffer, used);
    if (written.bad()) throw MwlError(QString::fromLatin1(written.text()));
    bytes.truncate(static_cast<qsizetype>(used));
    return bytes;
}

std::optional<DicomDataset> DicomDataset::FromBytes(const QByteArray& bytes) {
    IdentifierReader::Result read =
        IdentifierReader::Parse(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
                                EXS_LittleEndianExplicit, IdentifierReader::kStepLimits);
    if (!read.dataset) return std::nullopt;
    return DicomDataset(std::move(read.dataset));
}

void DicomDataset::Replace(const DicomDataset& changes) {
    for (unsigned long i = 0; i < changes.m_item->card(); ++i)
        Check(m_item->insert(static_cast<DcmElement*>(changes.m_item->getElement(i)->clone()),
                             OFTrue),
              changes.m_item->getElement(i)->getTag());
}

unsigned long DicomDataset::SequenceItems(Tag tag) const {
    DcmSequenceOfItems* sequence = nullptr;
    if (m_item->findAndGetSequence(DcmTagKey(tag.group, tag.element), sequence).bad() ||
        sequence == nullptr)
        return 0;
    return sequence->card();
}
