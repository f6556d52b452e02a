#pragma once

#include <QByteArray>
#include <QList>
#include <atomic>
#include <thread>

// A loopback relay between one DICOM peer and the server that keeps every
// byte the server sends, so a test can compare what went over the wire.
// Serves one connection, then stops listening. The peer connects to
// 127.0.0.1; the relay reaches the server there or, with serverOverIpv6, at
// ::1, so DCMTK's tools (which take no IPv6 address) talk to it over IPv6.
class RecordingRelay {
public:
    explicit RecordingRelay(int serverPort, bool serverOverIpv6 = false);
    ~RecordingRelay();
    RecordingRelay(const RecordingRelay&) = delete;
    RecordingRelay& operator=(const RecordingRelay&) = delete;

    // The port the peer connects to; 0 when the relay could not listen.
    int Port() const { return m_port; }
    // Waits for the connection to end and returns what the server sent.
    QByteArray ServerBytes();

    // One DIMSE message of a P-DATA stream, its fragments joined.
    struct Message {
        bool command = false;
        QByteArray bytes;
    };
    // The messages of the P-DATA-TF PDUs in a byte stream, in order; other
    // PDUs (association accept, release) are left out.
    static QList<Message> Messages(const QByteArray& stream);

private:
    void Serve();

    int m_serverPort;
    bool m_serverOverIpv6;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    QByteArray m_fromServer;
    std::thread m_thread;
};
