#include "platform/dicom/SocketTuning.h"

#include <dcmtk/dcmnet/dcmtrans.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

void SetOption(DcmNativeSocketType socket, int option) {
    const int on = 1;
    ::setsockopt(static_cast<int>(socket), IPPROTO_TCP, option, &on, sizeof on);
}

class QuickAckConnection : public DcmTCPConnection {
public:
    explicit QuickAckConnection(DcmNativeSocketType socket) : DcmTCPConnection(socket) {
        SetOption(socket, TCP_NODELAY);
        AcknowledgeAtOnce();
    }

    ssize_t read(void* buf, size_t nbyte) override {
        const ssize_t received = DcmTCPConnection::read(buf, nbyte);
        AcknowledgeAtOnce();
        return received;
    }

private:
    void AcknowledgeAtOnce() {
#ifdef TCP_QUICKACK
        SetOption(getSocket(), TCP_QUICKACK);
#endif
    }
};

}  // namespace

DcmTransportConnection* QuickAckTransportLayer::createConnection(DcmNativeSocketType openSocket,
                                                                 OFBool /*useSecureLayer*/) {
    return new QuickAckConnection(openSocket);
}
