#include "platform/dicom/CharacterSet.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcvr.h>
#include <dcmtk/ofstd/ofchrenc.h>

#include <QStringList>
#include <functional>
#include <string>
#include <string_view>

#include "platform/MwlError.h"

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

// Japanese sets: single-byte ASCII or JIS X 0201 (IR 6, IR 13) with two-byte
// kanji sets (IR 87: JIS X 0208, IR 159: JIS X 0212) switched in by escapes.
bool IsJapaneseWithKanji(const QStringList& terms) {
    bool kanji = false;
    for (const QString& term : terms) {
        if (term == QLatin1String("ISO 2022 IR 87") || term == QLatin1String("ISO 2022 IR 159"))
            kanji = true;
        else if (!term.isEmpty() && term != QLatin1String("ISO 2022 IR 6") &&
                 term != QLatin1String("ISO 2022 IR 13"))
            return false;
    }
    return kanji;
}

// One value rewritten as EUC-JP: two-byte characters get their high bits set
// (JIS X 0212 ones the 8F prefix), half-width katakana (bytes A1 to DF, JIS X
// 0201 in G1) the 8E prefix; escape sequences only switch the mode.
std::string ToEucJp(std::string_view value) {
    enum class Mode { SingleByte, Jis0208, Jis0212 } mode = Mode::SingleByte;
    std::string out;
    out.reserve(value.size() + value.size() / 2);
    for (size_t i = 0; i < value.size();) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c == 0x1B) {
            const std::string_view escape = value.substr(i + 1);
            if (escape.starts_with("$B") || escape.starts_with("$@")) {
                mode = Mode::Jis0208;
            } else if (escape.starts_with("$(D")) {
                mode = Mode::Jis0212;
                ++i;
            } else if (escape.starts_with("(B") || escape.starts_with("(J")) {
                mode = Mode::SingleByte;
            } else if (!escape.starts_with(")I")) {
                throw MwlError(QStringLiteral("unknown escape sequence"));
            }
            i += 3;
        } else if (c >= 0xA1 && c <= 0xDF) {
            out += '\x8E';
            out += static_cast<char>(c);
            ++i;
        } else if (mode == Mode::SingleByte || c < 0x21 || c > 0x7E) {
            out += static_cast<char>(c);
            ++i;
        } else {
            if (i + 1 >= value.size())
                throw MwlError(QStringLiteral("a two-byte character is cut"));
            if (mode == Mode::Jis0212) out += '\x8F';
            out += static_cast<char>(c | 0x80);
            out += static_cast<char>(value[i + 1] | 0x80);
            i += 2;
        }
    }
    return out;
}

void ForEachText(DcmItem& item, const std::function<void(DcmElement&)>& convert) {
    for (unsigned long i = 0; i < item.card(); ++i) {
        DcmElement* element = item.getElement(i);
        if (element->ident() == EVR_SQ) {
            auto* sequence = static_cast<DcmSequenceOfItems*>(element);
            for (unsigned long j = 0; j < sequence->card(); ++j)
                ForEachText(*sequence->getItem(j), convert);
        } else if (element->isAffectedBySpecificCharacterSet() && element->getLength() > 0) {
            convert(*element);
        }
    }
}

void ConvertJapanese(DcmDataset& dataset) {
    OFCharacterEncoding eucJp;
    if (eucJp.selectEncoding("EUC-JP", "UTF-8").bad())
        throw MwlError(QStringLiteral("EUC-JP is not available"));
    ForEachText(dataset, [&](DcmElement& element) {
        char* text = nullptr;
        if (element.getString(text).bad() || text == nullptr) return;
        const std::string euc = ToEucJp(std::string_view(text, element.getLength()));
        OFString utf8;
        const OFCondition converted = eucJp.convertString(euc.data(), euc.size(), utf8);
        if (converted.bad()) throw MwlError(QString::fromLatin1(converted.text()));
        element.putOFStringArray(utf8);
    });
    dataset.putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
}

}  // namespace

void DeclareCharacterSetIfNeeded(DcmItem& match) {
    if (match.tagExists(DCM_SpecificCharacterSet) || !UsesExtendedCharacters(match)) return;
    match.putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 100");
}

bool ConvertToUtf8(DcmDataset& dataset, QString& problem) {
    OFString declared;
    dataset.findAndGetOFStringArray(DCM_SpecificCharacterSet, declared);
    const QStringList terms = QString::fromLatin1(declared.c_str()).split(QLatin1Char('\\'));
    DcmDataset converted(dataset);
    try {
        if (IsJapaneseWithKanji(terms)) {
            ConvertJapanese(converted);
        } else if (const OFCondition status = converted.convertToUTF8(); status.bad()) {
            throw MwlError(QString::fromLatin1(status.text()));
        }
    } catch (const MwlError& error) {
        problem = QStringLiteral(
                      "The request's character set \"%1\" could not be converted (%2); "
                      "its values are read as ISO 8859-1.")
                      .arg(QString::fromLatin1(declared.c_str()), error.Description());
        return false;
    }
    dataset = converted;
    return true;
}
