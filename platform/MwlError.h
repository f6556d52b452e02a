#pragma once

#include <QString>
#include <stdexcept>

#include "platform/FailureKind.h"

// The one error type inside the core. It carries the description that the
// activity log shows and, where the thrower knows it, the kind of failure a
// peer is told; platform code throws it from every toolkit condition and SQL
// error, and each event handler catches it once.
class MwlError : public std::runtime_error {
public:
    explicit MwlError(const QString& description, FailureKind kind = FailureKind::Unspecified)
        : std::runtime_error(description.toStdString()), m_description(description), m_kind(kind) {}

    const QString& Description() const { return m_description; }
    FailureKind Kind() const { return m_kind; }

private:
    QString m_description;
    FailureKind m_kind;
};

// Runs one step whose failure must not stop the caller. This is the single,
// visible place where failures are deliberately swallowed.
template <typename Step>
void IgnoringFailures(Step&& step) {
    try {
        step();
    } catch (const std::exception&) {
    }
}
