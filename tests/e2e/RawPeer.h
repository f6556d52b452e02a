#pragma once

#include <QString>
#include <string>

// Plain TCP peers for what a DICOM toolkit will not do: connect and say
// nothing, close at once or with a reset, send a request byte by byte.

// A connected socket to the port on 127.0.0.1 (or ::1), or -1.
int ConnectRaw(int port, bool ipv6 = false);
// Closes with a TCP reset instead of a FIN.
void CloseWithReset(int socket);
// Writes all bytes; false when the connection is gone.
bool SendAll(int socket, const std::string& bytes);
// True when the peer closes (or resets) the connection within timeoutMs.
bool ClosedByPeerWithin(int socket, int timeoutMs);

// An A-ASSOCIATE-RQ proposing Verification in Implicit VR Little Endian.
std::string AssociateRequestPdu(const std::string& callingAeTitle = "RAWPEER");

// A P-DATA-TF PDU carrying a C-ECHO-RQ on presentation context 1.
std::string EchoRequestPdu();

// What /proc says about a process.
struct ProcessFigures {
    int threads = 0;
    int mappings = 0;  // lines of /proc/PID/maps
    long rssKb = 0;
    long vmSizeKb = 0;  // the address space it holds
    QString Describe() const;
};
ProcessFigures FiguresOf(long long pid);
