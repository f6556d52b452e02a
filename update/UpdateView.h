#pragma once

#include <QString>
#include <functional>

// What the program update needs from the window. Nothing here may block on a
// nested event loop: the window goes on showing the service at work while
// the update downloads and while the operator decides.
class UpdateView {
public:
    virtual ~UpdateView() = default;

    // The wait frame with its text, the wait pointer, and the update button
    // disabled while the update runs.
    virtual void ShowWaiting(bool waiting) = 0;
    virtual void ShowMessage(const QString& text) = 0;
    // Asks with the buttons Yes and No and calls answer once, with true for Yes.
    virtual void AskYesNo(const QString& question, std::function<void(bool yes)> answer) = 0;
    // Closes the listener and ends the program; called only once the new
    // program has started.
    virtual void EndProgram() = 0;
};
