#pragma once

// The matching-key and return-key tables of docs/conformance-statement.md,
// read from the document itself, so the tests check what it promises.

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

class ConformanceTables {
public:
    // Reads the document; Problem() says what went wrong, if anything.
    ConformanceTables();
    explicit ConformanceTables(const QString& document);

    static QStringList Modes();
    const QString& Problem() const { return m_problem; }
    QList<MatchingRow> MatchingKeys(const QString& mode) const;
    const QList<ReturnRow>& ReturnKeys() const { return m_returnKeys; }

private:
    using Cells = QMap<QString, QString>;
    QList<Cells> Table(const QStringList& lines, const QStringList& header);
    void ReadMatchingKeys(const QList<Cells>& rows);
    void ReadReturnKeys(const QList<Cells>& rows);
    bool ReadTag(const QString& text, Tag& tag);
    bool ReadLevel(const QString& text, bool& inStep);

    QString m_problem;
    QList<MatchingRow> m_matchingKeys;
    QList<ReturnRow> m_returnKeys;
};
