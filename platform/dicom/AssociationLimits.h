#pragma once

// What the listener allows each peer: how many associations at once, how long
// each phase of an association may take, and the largest PDU it receives;
// and the status every match is sent with. Times are in seconds.
struct AssociationLimits {
    // Associations served at once; beyond it a new peer waits a few seconds
    // for a free worker and is then refused.
    int maxAssociations = 64;
    // The whole association request, from connect to the last byte.
    int associationRequestTimeout = 5;
    // No message for this long: the association is released.
    int idleAssociationTimeout = 60;
    // Receiving one message, or the peer taking what is sent to it.
    int dimseTimeout = 60;
    // Largest PDU the listener receives (bytes).
    int maxPduSize = 16384;
    // FF01 (pending, some optional keys not supported) or FF00 (pending);
    // a client that takes FF01 for a final status needs FF00.
    unsigned pendingStatus = 0xFF01;
};
