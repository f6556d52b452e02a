#pragma once

#include <QString>

// What kind of failure ended a query. The peer is told only the kind, as the
// Error Comment of its failure status; the description with the details (the
// database's message, a statement, a file or table name) goes to the activity
// log alone, so nothing about the HIS reaches whoever asks.
enum class FailureKind {
    Unspecified,
    NotWorklistQuery,
    IdentifierTooLarge,
    IdentifierTooManyItems,
    IdentifierUnreadable,
    RequestWithoutStep,
    InvalidDateOrTime,
    NoStatement,
    HisNotAvailable,
    HisQueryFailed,
    HisTimeout,
    OrderFolderNotAvailable,
    ServerConfiguration,
    QueryAbandoned,
    ServerStopping,
};

// What follows a failure of each kind.
struct FailurePolicy {
    // The Error Comment: plain ASCII of at most 64 characters, as its value
    // representation (LO) allows.
    QString errorComment;
    // The failure came from the HIS connection, so the next statement gets a
    // fresh one. A failure found before any SQL ran (a bad request, a bad
    // setting), a time-out that was really reached (the connection works, the
    // HIS was only slow or locked) and a stop leave the connection alone.
    bool reopensHis = false;
};

FailurePolicy PolicyFor(FailureKind kind);

inline QString ErrorCommentFor(FailureKind kind) { return PolicyFor(kind).errorComment; }
