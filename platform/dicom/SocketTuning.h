#pragma once

#include <dcmtk/dcmnet/dcmlayer.h>

#include <functional>

struct T_ASC_Association;

// While more matches wait to be sent, what is written is collected and goes
// out in large pieces; releasing sends what is held at once.
void HoldOutput(T_ASC_Association* association, bool hold);

// A listener's transport layer that reports every socket the toolkit takes,
// on the thread that gave it over, before the toolkit reads from it (for TLS:
// before the handshake). From the report on the toolkit owns the socket: it
// closes it, also when it cannot make a connection of it.
class AcceptingTransportLayer : public DcmTransportLayer {
public:
    void SetAcceptHook(std::function<void(DcmNativeSocketType)> hook) { m_hook = std::move(hook); }

protected:
    void Accepted(DcmNativeSocketType socket) const {
        if (m_hook) m_hook(socket);
    }

private:
    std::function<void(DcmNativeSocketType)> m_hook;
};

// The plain port's transport layer: tuned TCP connections (TunedConnection),
// no encryption.
class QuickAckTransportLayer : public AcceptingTransportLayer {
public:
    DcmTransportConnection* createConnection(DcmNativeSocketType openSocket,
                                             OFBool useSecureLayer) override;
};
