#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// One worklist item of the peer's database.
struct PeerItem {
    QString accession;
    QString patientName;
    QString patientId;
    QString birthDate;  // YYYYMMDD
    QString modality;
};

// DCMTK's wlmscpfs, a worklist server no one here wrote, on a free loopback
// port. It serves the worklist files the test adds (text dumps turned into
// files with dump2dcm) to the called AE title kAeTitle only.
class WorklistPeer {
public:
    static constexpr const char* kAeTitle = "WLMPEER";

    WorklistPeer();
    ~WorklistPeer();

    testing::AssertionResult Add(const PeerItem& item);
    // Starts the server and returns once it accepts connections.
    testing::AssertionResult Start();
    int Port() const { return m_port; }

private:
    QTemporaryDir m_root;
    QProcess m_server;
    int m_port = 0;
    int m_items = 0;
};
