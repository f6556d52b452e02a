#include "ConformanceTables.h"

#include <QFile>
#include <QRegularExpression>

namespace {

const QStringList kMatchingHeader{"Mode", "Attribute", "Tag", "Level", "Matching", "Notes"};
const QStringList kReturnHeader{"Attribute", "Tag",      "Level",     "TALVEK", "PELTA",
                                "ORVELLINE", "CORVANTE", "BRAMWOODS", "Value"};
const QStringList kTerms{"equal",          "wildcard",    "list",       "range", "components",
                         "case-sensitive", "no-wildcard", "department", "none"};
const QStringList kPresence{"asked", "always", "-"};
const QStringList kStatusHeader{"Status", "Meaning", "When"};
const QStringList kErrorCommentHeader{"Error Comment", "When"};
const QStringList kPolicyHeader{"Item", "Value"};
const QStringList kCharacterSetHeader{"Query declares", "Matches encoded in",
                                      "Specific Character Set of the matches"};
const QStringList kListenHeader{"`ListenAddresses`", "Listens on"};

// The texts in `backquotes` of a cell.
QStringList Quoted(const QString& cell) {
    static const QRegularExpression quoted(QStringLiteral("`([^`]*)`"));
    QStringList texts;
    for (const auto& match : quoted.globalMatch(cell)) texts << match.captured(1);
    return texts;
}

QString FirstQuoted(const QString& cell) { return Quoted(cell).value(0); }

// The cells of a Markdown table row, trimmed; empty when the line is no row.
QStringList CellsOf(const QString& line) {
    const QString row = line.trimmed();
    if (!row.startsWith(QLatin1Char('|')) || !row.endsWith(QLatin1Char('|'))) return {};
    QStringList cells = row.mid(1, row.size() - 2).split(QLatin1Char('|'));
    for (QString& cell : cells) cell = cell.trimmed();
    return cells;
}

QString TagText(Tag tag) {
    return QStringLiteral("(%1,%2)")
        .arg(tag.group, 4, 16, QLatin1Char('0'))
        .arg(tag.element, 4, 16, QLatin1Char('0'))
        .toUpper();
}

QString LevelText(bool inStep) { return inStep ? QStringLiteral("step") : QStringLiteral("top"); }

}  // namespace

QString MatchingRow::Name() const {
    return mode + QLatin1Char(' ') + attribute + QLatin1Char(' ') + TagText(tag) +
           QLatin1Char(' ') + LevelText(inStep);
}

QString ReturnRow::Name() const {
    return attribute + QLatin1Char(' ') + TagText(tag) + QLatin1Char(' ') + LevelText(inStep);
}

ConformanceTables::ConformanceTables() {
    QFile file(QStringLiteral(MWL_SOURCE_DIR "/docs/conformance-statement.md"));
    if (!file.open(QIODevice::ReadOnly)) {
        m_problem = file.fileName() + QStringLiteral(": ") + file.errorString();
        return;
    }
    *this = ConformanceTables(QString::fromUtf8(file.readAll()));
}

ConformanceTables::ConformanceTables(const QString& document) {
    const QStringList lines = document.split(QLatin1Char('\n'));
    ReadMatchingKeys(Table(lines, kMatchingHeader));
    ReadReturnKeys(Table(lines, kReturnHeader));
    if (m_problem.isEmpty() && (m_matchingKeys.isEmpty() || m_returnKeys.isEmpty()))
        m_problem = QStringLiteral("a key table is missing or empty");
    if (m_problem.isEmpty()) ReadTexts(lines);
}

// A table of texts that is missing reads as empty; the test that needs it
// says so.
void ConformanceTables::ReadTexts(const QStringList& lines) {
    for (const Cells& cells : OptionalTable(lines, kStatusHeader)) {
        bool hex = false;
        const unsigned status = cells["Status"].toUInt(&hex, 16);
        if (!hex) m_problem = QStringLiteral("not a status: \"%1\"").arg(cells["Status"]);
        m_statuses << StatusRow{status, cells["When"]};
    }
    for (const Cells& cells : OptionalTable(lines, kErrorCommentHeader))
        m_errorComments << FirstQuoted(cells["Error Comment"]);
    for (const Cells& cells : OptionalTable(lines, kPolicyHeader))
        m_policies[cells["Item"]] = FirstQuoted(cells["Value"]);
    for (const Cells& cells : OptionalTable(lines, kCharacterSetHeader))
        m_characterSets << CharacterSetRow{FirstQuoted(cells["Query declares"]),
                                           cells["Matches encoded in"].startsWith("UTF-8"),
                                           FirstQuoted(cells[kCharacterSetHeader[2]])};
    for (const Cells& cells : OptionalTable(lines, kListenHeader))
        m_listenAddresses << ListenRow{FirstQuoted(cells[kListenHeader[0]]),
                                       Quoted(cells["Listens on"])};
}

QStringList ConformanceTables::Modes() {
    return {"TALVEK", "PELTA", "ORVELLINE", "CORVANTE", "BRAMWOODS"};
}

QList<MatchingRow> ConformanceTables::MatchingKeys(const QString& mode) const {
    QList<MatchingRow> rows;
    for (const MatchingRow& row : m_matchingKeys)
        if (row.mode == mode) rows << row;
    return rows;
}

// The rows of the table whose header row has exactly these columns.
QList<ConformanceTables::Cells> ConformanceTables::Table(const QStringList& lines,
                                                         const QStringList& header) {
    QList<Cells> rows;
    qsizetype at = 0;
    while (at < lines.size() && CellsOf(lines[at]) != header) ++at;
    if (at == lines.size()) {
        m_problem =
            QStringLiteral("no table with the columns ") + header.join(QStringLiteral(", "));
        return rows;
    }
    for (at += 2; at < lines.size(); ++at) {
        const QStringList cells = CellsOf(lines[at]);
        if (cells.isEmpty()) break;
        if (cells.size() != header.size()) {
            m_problem = QStringLiteral("row with %1 cells: %2").arg(cells.size()).arg(lines[at]);
            break;
        }
        Cells row;
        for (qsizetype i = 0; i < header.size(); ++i) row[header[i]] = cells[i];
        rows << row;
    }
    return rows;
}

QList<ConformanceTables::Cells> ConformanceTables::OptionalTable(const QStringList& lines,
                                                                 const QStringList& header) {
    const QString before = m_problem;
    const QList<Cells> rows = Table(lines, header);
    if (rows.isEmpty()) m_problem = before;
    return rows;
}

void ConformanceTables::ReadMatchingKeys(const QList<Cells>& rows) {
    for (const Cells& cells : rows) {
        MatchingRow row{QString(), cells["Attribute"], {}, false, {}};
        if (!ReadTag(cells["Tag"], row.tag) || !ReadLevel(cells["Level"], row.inStep)) return;
        for (const QString& term : cells["Matching"].split(QLatin1Char(','))) {
            row.matching << term.trimmed();
            if (!kTerms.contains(row.matching.last())) {
                m_problem = QStringLiteral("unknown matching term \"%1\"").arg(term.trimmed());
                return;
            }
        }
        const QString mode = cells["Mode"];
        const QStringList modes = mode == QLatin1String("every mode") ? Modes() : QStringList{mode};
        for (const QString& one : modes) {
            if (!Modes().contains(one)) {
                m_problem = QStringLiteral("unknown mode \"%1\"").arg(one);
                return;
            }
            row.mode = one;
            m_matchingKeys << row;
        }
    }
}

void ConformanceTables::ReadReturnKeys(const QList<Cells>& rows) {
    for (const Cells& cells : rows) {
        ReturnRow row{cells["Attribute"], {}, false, {}};
        if (!ReadTag(cells["Tag"], row.tag) || !ReadLevel(cells["Level"], row.inStep)) return;
        for (const QString& mode : Modes()) {
            if (!kPresence.contains(cells[mode])) {
                m_problem = QStringLiteral("\"%1\" for %2 in the row of %3")
                                .arg(cells[mode], mode, row.attribute);
                return;
            }
            row.byMode[mode] = cells[mode];
        }
        m_returnKeys << row;
    }
}

bool ConformanceTables::ReadTag(const QString& text, Tag& tag) {
    static const QRegularExpression form(QStringLiteral(R"(^\(([0-9A-F]{4}),([0-9A-F]{4})\)$)"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) {
        m_problem = QStringLiteral("not a tag: \"%1\"").arg(text);
        return false;
    }
    tag = {static_cast<quint16>(match.captured(1).toUInt(nullptr, 16)),
           static_cast<quint16>(match.captured(2).toUInt(nullptr, 16))};
    return true;
}

bool ConformanceTables::ReadLevel(const QString& text, bool& inStep) {
    if (text != QLatin1String("top") && text != QLatin1String("step")) {
        m_problem = QStringLiteral("not a level: \"%1\"").arg(text);
        return false;
    }
    inStep = text == QLatin1String("step");
    return true;
}
