#pragma once

// The tables of docs/conformance-statement.md (matching and return keys,
// status codes, Error Comments, association policies, character sets,
// listen addresses), read from the document itself, so the tests check what
// it promises. Values in `backquotes` are the literal texts.

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include "platform/dicom/DicomTag.h"

// One row of the matching-key table; a row for "every mode" is read as one
// row per mode.
struct MatchingRow {
    QString mode;
    QString attribute;
    Tag tag;
    bool inStep;           // Level "step": in the Scheduled Procedure Step item
    QStringList matching;  // the Matching terms, e.g. {"equal", "wildcard"}

    bool Has(const QString& term) const { return matching.contains(term); }
    QString Name() const;  // "CORVANTE Patient ID (0010,0020) top", for messages
};

// One row of the return-key table.
struct ReturnRow {
    QString attribute;
    Tag tag;
    bool inStep;
    QMap<QString, QString> byMode;  // mode -> "asked", "always" or "-"

    QString Name() const;
};

// One row of the status code table.
struct StatusRow {
    unsigned status;
    QString when;
};

// One row of the character set table: what a query declares ("" for
// nothing), whether the matches are UTF-8, and the set they declare.
struct CharacterSetRow {
    QString declared;
    bool utf8;
    QString returned;
};

// One row of the listen address table: the setting and the addresses the
// ports listen on ("0.0.0.0" and "::" standing for every address).
struct ListenRow {
    QString setting;
    QStringList addresses;
};

class ConformanceTables {
public:
    // Reads the document; Problem() says what went wrong, if anything.
    ConformanceTables();
    explicit ConformanceTables(const QString& document);

    static QStringList Modes();
    const QString& Problem() const { return m_problem; }
    QList<MatchingRow> MatchingKeys(const QString& mode) const;
    const QList<ReturnRow>& ReturnKeys() const { return m_returnKeys; }
    const QList<StatusRow>& Statuses() const { return m_statuses; }
    const QStringList& ErrorComments() const { return m_errorComments; }
    // A value of the association policy table ("Implementation Class UID").
    QString Policy(const QString& item) const { return m_policies.value(item); }
    const QList<CharacterSetRow>& CharacterSets() const { return m_characterSets; }
    const QList<ListenRow>& ListenAddresses() const { return m_listenAddresses; }

private:
    using Cells = QMap<QString, QString>;
    QList<Cells> Table(const QStringList& lines, const QStringList& header);
    QList<Cells> OptionalTable(const QStringList& lines, const QStringList& header);
    void ReadMatchingKeys(const QList<Cells>& rows);
    void ReadReturnKeys(const QList<Cells>& rows);
    void ReadTexts(const QStringList& lines);
    bool ReadTag(const QString& text, Tag& tag);
    bool ReadLevel(const QString& text, bool& inStep);

    QString m_problem;
    QList<MatchingRow> m_matchingKeys;
    QList<ReturnRow> m_returnKeys;
    QList<StatusRow> m_statuses;
    QStringList m_errorComments;
    QMap<QString, QString> m_policies;
    QList<CharacterSetRow> m_characterSets;
    QList<ListenRow> m_listenAddresses;
};
