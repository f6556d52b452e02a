#pragma once

#include <QString>
#include <exception>

#include "platform/MwlError.h"

// Runs one event handler of the window; a failure goes to `report` (the log
// or a message box) instead of leaving the handler, so no exception ever
// reaches Qt's event loop or ends the program.
template <typename Handler, typename Report>
void Trapped(Handler&& handler, Report&& report) {
    try {
        handler();
    } catch (const MwlError& error) {
        report(error.Description());
    } catch (const std::exception& error) {
        report(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        report(QStringLiteral("Unexpected error."));
    }
}
