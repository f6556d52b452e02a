#pragma once

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// One N-CREATE or N-SET as the modality sends it (see mpps_client.py): a
// create builds a full attribute list with one Scheduled Step Attributes
// item per accession number; a set to COMPLETED or DISCONTINUED carries the
// end date and time and a performed series.
struct StepCall {
    enum class Op { Create, Set };
    Op op = Op::Create;
    QString uid;
    std::optional<QString> status;  // unset: IN PROGRESS for a create, none for a set
    QStringList accessions;         // create only
    QJsonObject set;                // top-level values by keyword; null removes one
    QJsonArray items;               // values of each item, by keyword

    static StepCall Create(const QString& uid, const QStringList& accessions);
    static StepCall Set(const QString& uid, const QString& status);
};

// What the modality got back.
struct StepReply {
    bool associated = false;  // false: the association was rejected
    int status = -1;
    QString errorComment;
    std::optional<int> errorId;
    QStringList attributeIds;  // "00100010", ...
};

// pynetdicom's MPPS client (tests/e2e/mpps_client.py), run with python3 as
// a separate process against a server on the loopback interface; pydicom
// and pynetdicom come from the folder the build laid out from their sources.
class MppsClient {
public:
    explicit MppsClient(int port, QString callingAeTitle = QStringLiteral("CT01"));

    // Over TLS, with the client's certificate, trusting the authority.
    void UseTls(const QString& authority, const QString& certificate, const QString& key);
    // All messages of one Send on one association instead of one each.
    void OneAssociation() { m_oneAssociation = true; }

    // One reply per call; an empty list (and a test failure) when the client
    // could not run.
    std::vector<StepReply> Send(const std::vector<StepCall>& calls);
    StepReply Send(const StepCall& call);

    // Whether python3 finds pynetdicom where the build laid it out.
    static testing::AssertionResult Available();

private:
    int m_port;
    QString m_calling;
    QJsonObject m_tls;
    bool m_oneAssociation = false;
};

// Shorter: the statuses of the replies, in order.
std::vector<int> Statuses(const std::vector<StepReply>& replies);
