#include "platform/dicom/SocketTuning.h"

#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dul.h>

#include "platform/dicom/TunedConnection.h"

void HoldOutput(T_ASC_Association* association, bool hold) {
    if (association == nullptr || association->DULassociation == nullptr) return;
    auto* connection =
        dynamic_cast<HeldOutput*>(DUL_getTransportConnection(association->DULassociation));
    if (connection) connection->Hold(hold);
}

DcmTransportConnection* QuickAckTransportLayer::createConnection(DcmNativeSocketType openSocket,
                                                                 OFBool /*useSecureLayer*/) {
    Accepted(openSocket);
    return new TunedConnection<DcmTCPConnection>(openSocket);
}
