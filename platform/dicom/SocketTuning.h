#pragma once

#include <dcmtk/dcmnet/dcmlayer.h>

#include <functional>

// Small DIMSE messages must not wait: every accepted connection has Nagle's
// algorithm off for what we send, and acknowledges what it receives at once,
// so a peer that keeps Nagle on is not stalled by our delayed ACKs. Linux
// drops the quick-ack mode on its own, so it is re-armed after every read.
// Installed as the listener's transport layer; it adds no encryption.
struct T_ASC_Association;

// While more matches wait to be sent, what is written is collected and goes
// out in large pieces; releasing sends what is held at once.
void HoldOutput(T_ASC_Association* association, bool hold);

class QuickAckTransportLayer : public DcmTransportLayer {
public:
    // Called on the accepting thread with every accepted socket, before the
    // toolkit reads from it.
    void SetAcceptHook(std::function<void(DcmNativeSocketType)> hook) { m_hook = std::move(hook); }

    DcmTransportConnection* createConnection(DcmNativeSocketType openSocket,
                                             OFBool useSecureLayer) override;

private:
    std::function<void(DcmNativeSocketType)> m_hook;
};
