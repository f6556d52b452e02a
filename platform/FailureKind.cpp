#include "platform/FailureKind.h"

FailurePolicy PolicyFor(FailureKind kind) {
    switch (kind) {
        case FailureKind::Unspecified:
            break;
        case FailureKind::NotWorklistQuery:
            return {QStringLiteral("Not a worklist query")};
        case FailureKind::IdentifierTooLarge:
            return {QStringLiteral("Query identifier larger than 1 MiB")};
        case FailureKind::IdentifierTooManyItems:
            return {QStringLiteral("Query identifier with more than 256 items")};
        case FailureKind::IdentifierUnreadable:
            return {QStringLiteral("Query identifier cannot be read")};
        case FailureKind::RequestWithoutStep:
            return {QStringLiteral("No Scheduled Procedure Step item in the query")};
        case FailureKind::InvalidDateOrTime:
            return {QStringLiteral("Invalid date or time in the query")};
        case FailureKind::NoStatement:
            return {QStringLiteral("No HIS statement for this query")};
        case FailureKind::HisNotAvailable:
            return {QStringLiteral("HIS not available"), true};
        case FailureKind::HisQueryFailed:
            return {QStringLiteral("HIS query failed"), true};
        case FailureKind::HisTimeout:
            return {QStringLiteral("HIS did not answer in time")};
        case FailureKind::OrderFolderNotAvailable:
            return {QStringLiteral("Order folder not available")};
        case FailureKind::ServerConfiguration:
            return {QStringLiteral("Server configuration error")};
        case FailureKind::QueryAbandoned:
            return {QStringLiteral("Query abandoned")};
        case FailureKind::ServerStopping:
            return {QStringLiteral("Server shutting down")};
    }
    return {QStringLiteral("Query failed")};
}
