#include "platform/dicom/SocketTuning.h"

#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmnet/dul.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>

namespace {

void SetOption(DcmNativeSocketType socket, int option, int value = 1) {
    ::setsockopt(static_cast<int>(socket), IPPROTO_TCP, option, &value, sizeof value);
}

class QuickAckConnection : public DcmTCPConnection {
public:
    explicit QuickAckConnection(DcmNativeSocketType socket) : DcmTCPConnection(socket) {
        SetOption(socket, TCP_NODELAY);
        AcknowledgeAtOnce();
    }

    ~QuickAckConnection() override { Flush(); }

    // While held, what the toolkit writes (several small writes per match)
    // is collected and sent in large pieces.
    void Hold(bool hold) {
        m_holding = hold;
        if (!hold) Flush();
    }

    ssize_t write(void* buf, size_t nbyte) override {
        if (m_failed) return -1;
        if (!m_holding) return Flush() ? DcmTCPConnection::write(buf, nbyte) : -1;
        m_pending.append(static_cast<const char*>(buf), nbyte);
        if (m_pending.size() >= kBatchBytes && !Flush()) return -1;
        return static_cast<ssize_t>(nbyte);
    }

    void close() override {
        Flush();
        DcmTCPConnection::close();
    }

    ssize_t read(void* buf, size_t nbyte) override {
        const ssize_t received = DcmTCPConnection::read(buf, nbyte);
        AcknowledgeAtOnce();
        return received;
    }

private:
    static constexpr size_t kBatchBytes = 64 * 1024;

    bool Flush() {
        size_t sent = 0;
        while (!m_failed && sent < m_pending.size()) {
            const ssize_t written =
                DcmTCPConnection::write(m_pending.data() + sent, m_pending.size() - sent);
            if (written > 0)
                sent += static_cast<size_t>(written);
            else if (!(written < 0 && errno == EINTR))
                m_failed = true;
        }
        m_pending.clear();
        return !m_failed;
    }

    void AcknowledgeAtOnce() {
#ifdef TCP_QUICKACK
        SetOption(getSocket(), TCP_QUICKACK);
#endif
    }

    std::string m_pending;
    bool m_holding = false;
    bool m_failed = false;
};

}  // namespace

void HoldOutput(T_ASC_Association* association, bool hold) {
    if (association == nullptr || association->DULassociation == nullptr) return;
    auto* connection =
        dynamic_cast<QuickAckConnection*>(DUL_getTransportConnection(association->DULassociation));
    if (connection) connection->Hold(hold);
}

DcmTransportConnection* QuickAckTransportLayer::createConnection(DcmNativeSocketType openSocket,
                                                                 OFBool /*useSecureLayer*/) {
    auto* connection = new QuickAckConnection(openSocket);
    if (m_hook) m_hook(openSocket);
    return connection;
}
