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
    ServerConfiguration,
    QueryAbandoned,
    ServerStopping,
};

// The Error Comment for the kind: plain ASCII of at most 64 characters, as
// its value representation (LO) allows.
QString ErrorCommentFor(FailureKind kind);
