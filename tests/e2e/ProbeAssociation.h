#pragma once

#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>
#include <gtest/gtest.h>

#include <QString>
#include <optional>
#include <set>
#include <string>

class DcmDataset;

// The end of one C-FIND as the probe saw it.
struct FindReply {
    int pending = 0;               // matches received
    std::set<Uint16> pendingStatuses;  // the statuses they came with
    std::optional<Uint16> status;  // final status; unset when none came
    QString errorComment;
};

// One association from this test process, made with DCMTK's association and
// DIMSE calls, for what findscu and echoscu cannot do: keep an association
// open and silent, send raw identifier bytes, cancel after the end, send
// without reading. Proposes Verification and the worklist FIND model in
// Implicit VR Little Endian.
class ProbeAssociation {
public:
    explicit ProbeAssociation(int port, const char* callingAeTitle = "PROBE");
    ~ProbeAssociation();  // aborts an association still open
    ProbeAssociation(const ProbeAssociation&) = delete;
    ProbeAssociation& operator=(const ProbeAssociation&) = delete;

    // Requests the association; the result says how it went.
    testing::AssertionResult Open(int timeoutSeconds = 30);
    // The request was rejected for being over the listener's limit.
    bool RefusedAsBusy() const { return m_refusedAsBusy; }
    bool IsOpen() const { return m_association != nullptr; }

    // Shrinks the receive buffer of the open association's socket, as a
    // modality with little memory has it.
    void ShrinkReceiveBuffer(int bytes);

    testing::AssertionResult Echo();
    // A worklist query for modality CR.
    FindReply Find();
    // Sends a worklist C-FIND whose identifier is the given bytes, as they
    // stand, and reads the responses.
    FindReply FindRaw(const std::string& identifier);
    // Sends a worklist query and reads nothing more.
    testing::AssertionResult SendFindOnly();
    // Sends a C-FIND command and the first bytes of a PDU meant to carry its
    // identifier; the rest never comes.
    testing::AssertionResult SendFindAndStall();
    testing::AssertionResult Cancel(Uint16 messageId);
    Uint16 LastMessageId() const { return m_lastMessageId; }

    testing::AssertionResult Release();
    void Abort();
    // Closes the connection without a release or an abort.
    void Drop();
    // Waits for the server to request the release, and agrees.
    testing::AssertionResult AwaitReleaseRequest(int timeoutSeconds);

private:
    FindReply ReadFindResponses();
    testing::AssertionResult SendFind(DcmDataset& keys);
    testing::AssertionResult WritePdv(const std::string& bytes, bool command, bool last);
    T_ASC_PresentationContextID FindContext() const;

    int m_port;
    std::string m_callingAeTitle;
    T_ASC_Network* m_network = nullptr;
    T_ASC_Association* m_association = nullptr;
    bool m_refusedAsBusy = false;
    Uint16 m_nextMessageId = 1;
    Uint16 m_lastMessageId = 0;
};

// An identifier in Implicit VR Little Endian with Scheduled Procedure Step
// Sequences nested depth levels deep (undefined lengths, 32 bytes a level)
// around a Modality of CR.
std::string NestedIdentifier(int depth);
// An element in Implicit VR Little Endian; a value of odd length is padded
// with a space.
std::string IdentifierElement(Uint16 group, Uint16 element, std::string value);
// A Scheduled Procedure Step Sequence of one item holding the elements, with
// undefined lengths.
std::string StepSequence(const std::string& elements);
