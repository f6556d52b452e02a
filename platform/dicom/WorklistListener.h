#pragma once

#include <QStringList>
#include <memory>
#include <vector>

#include "platform/ActivityLog.h"
#include "platform/dicom/AssociationLimits.h"
#include "platform/dicom/FindDispatcher.h"
#include "platform/dicom/ListenAddresses.h"
#include "platform/dicom/ListenerSecurity.h"
#include "platform/dicom/SocketTuning.h"

class AssociationPool;
class ServiceStatus;
class StepHandler;
class TlsTransportLayer;

// The DICOM listener: serves associations on worker threads (as many at once
// as the limits allow), answers C-ECHO and hands every C-FIND to the query
// workers of the dispatcher. It listens on the plain port, on a TLS port, or
// on both, and lets in whom the access rules let in.
class WorklistListener {
public:
    // What became of the ports at start.
    struct Started {
        QStringList notes;     // lines for the activity log (TLS in force, warnings)
        QStringList problems;  // a port not opened: for the log and the operator
    };

    // Each association and its end, refusals, and counts of connections that
    // never became one, go to the log, from the network threads; the open
    // associations and the queries' outcomes are counted in the status.
    WorklistListener(FindDispatcher& dispatcher, ActivityLog& log,
                     ServiceStatus* status = nullptr);
    ~WorklistListener();

    // From the next Start on, N-CREATE and N-SET of Modality Performed
    // Procedure Steps go to the handler (not owned; it must outlive the
    // listener's associations). Without one the SOP class is not accepted.
    void SetStepHandler(StepHandler* steps) { m_steps = steps; }

    // Starts listening on the addresses, on the plain port (unless the
    // security settings close it) and on the TLS port when one is set, and
    // returns once connections are accepted. A port that cannot be opened,
    // or TLS that cannot be set up (a missing file, a key that does not
    // match), leaves the other port serving and is returned as a problem;
    // when no port can be opened this throws MwlError saying why.
    Started Start(int port, const AssociationLimits& limits, const ListenerSecurity& security = {},
                  const ListenAddresses& addresses = {});
    // Refuses new connections at once, gives answers in progress two seconds,
    // aborts the associations still open and joins every thread.
    void Stop();
    bool Listening() const;
    // The ports served now; 0 for none.
    int PlainPort() const { return Listening() ? m_plainPort : 0; }
    int TlsPort() const { return Listening() ? m_tlsPort : 0; }

private:
    // The port's listening sockets, one per address. Throws MwlError naming
    // the port when it cannot serve: an address of the list that cannot be
    // opened is a problem unless none can; with every address, IPv4 must
    // open and IPv6 is left out (with a note) where the host has none.
    static std::vector<int> OpenSockets(int port, const ListenAddresses& addresses,
                                        Started& started);
    // The TLS port's sockets; none when TLS is off or cannot be set up.
    std::vector<int> OpenTls(const ListenerSecurity& security, int plainPort,
                             const ListenAddresses& addresses, Started& started);

    FindDispatcher& m_dispatcher;
    StepHandler* m_steps = nullptr;
    ActivityLog& m_log;
    ServiceStatus* m_status;
    QuickAckTransportLayer m_plainTransport;
    std::unique_ptr<TlsTransportLayer> m_tlsTransport;
    std::unique_ptr<AssociationPool> m_pool;
    int m_plainPort = 0;
    int m_tlsPort = 0;
};
