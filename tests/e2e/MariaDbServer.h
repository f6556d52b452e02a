#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// A private MariaDB server for the tests that need a MySQL-dialect HIS. Its
// data folder lives in a temporary folder of its own, it listens only on a
// Unix socket there (no TCP port), and it is stopped and removed with this
// object, or with the test program should that end without stopping it.
class MariaDbServer {
public:
    MariaDbServer();
    ~MariaDbServer();
    MariaDbServer(const MariaDbServer&) = delete;
    MariaDbServer& operator=(const MariaDbServer&) = delete;

    // Creates the data folder, starts mariadbd and creates the database
    // Database(). A failure carries the server's own output.
    testing::AssertionResult Start();
    // Runs statements in Database() with the mariadb command-line client.
    testing::AssertionResult Run(const QString& sql) const;
    // Starts a client session that runs the statements and stays connected
    // until the process is ended (a lock it takes is held till then).
    std::unique_ptr<QProcess> Session(const QString& sql) const;
    // The rows of a query, one line each, values separated by tabs.
    QString Query(const QString& sql) const;
    // Shuts the server down (SIGTERM) and waits for it to end.
    testing::AssertionResult Stop();

    static QString Database() { return QStringLiteral("his"); }
    QString Socket() const { return m_folder.filePath(QStringLiteral("sock")); }
    // How the server under test reaches Database() through ODBC.
    QString ConnectionString() const;
    // Everything mariadbd wrote so far.
    QString ServerOutput() const;

private:
    testing::AssertionResult CreateDataFolder() const;
    testing::AssertionResult WaitUntilReady();
    QStringList ClientArguments() const;

    QTemporaryDir m_folder;
    QProcess m_server;
};
