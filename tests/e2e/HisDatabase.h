#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <optional>

// One row of the x-ray order table that the CORVANTE back-end reads.
struct HisOrder {
    qint64 worklistId = 0;
    QString created;  // "YYYY-MM-DD HH:MM:SS", as the HIS stores it
    QString patientId;
    std::optional<QString> lastName;  // std::nullopt is SQL NULL
    std::optional<QString> firstName;
    std::optional<QString> middleName;
    QString birthDate;  // "YYYY-MM-DD"
    QString gender;
    bool done = false;
    bool valid = true;
};

// A SQLite hospital information system written with the sqlite3 command-line
// shell, so the server under test reads a database that no code of ours wrote.
class HisDatabase {
public:
    // Creates the x-ray order table in a new file and fills it.
    static testing::AssertionResult Create(const QString& file, const QList<HisOrder>& orders);
    // Runs statements on the file (creating it when missing).
    static testing::AssertionResult Run(const QString& file, const QString& sql);
    // The rows of a query, one line each, values separated by "|".
    static QString Query(const QString& file, const QString& sql);
    // count open orders with ids firstId, firstId + 1, ...; patient IDs "P<id>".
    static QList<HisOrder> OpenOrders(int count, int firstId = 1);
    static QString InsertStatement(const QList<HisOrder>& orders);
};

// Another program that holds an exclusive lock on a SQLite file (the sqlite3
// shell in a transaction) until Release().
class SqliteLock {
public:
    explicit SqliteLock(const QString& file);
    ~SqliteLock() { Release(); }
    SqliteLock(const SqliteLock&) = delete;
    SqliteLock& operator=(const SqliteLock&) = delete;

    bool Held() const { return m_output.contains("locked"); }
    void Release();

private:
    QProcess m_shell;
    QByteArray m_output;
};
