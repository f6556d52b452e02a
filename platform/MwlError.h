#pragma once

#include <QString>
#include <stdexcept>

// The one error type inside the core. It carries the description that the
// activity log shows; platform code throws it from every toolkit condition and
// SQL error, and each event handler catches it once.
class MwlError : public std::runtime_error {
public:
    explicit MwlError(const QString& description)
        : std::runtime_error(description.toStdString()), m_description(description) {}

    const QString& Description() const { return m_description; }

private:
    QString m_description;
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
