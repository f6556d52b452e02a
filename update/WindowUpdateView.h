#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "update/UpdateView.h"

// The update's view over the main window: the wait frame and the update
// button, message boxes that open without a nested event loop (window-modal,
// answered through their finished signal), and the program's end.
class WindowUpdateView : public UpdateView {
public:
    WindowUpdateView(QWidget& window, QWidget& waitFrame, QWidget& updateButton,
                     std::function<void()> endProgram);
    ~WindowUpdateView() override;

    void ShowWaiting(bool waiting) override;
    void ShowMessage(const QString& text) override;
    void AskYesNo(const QString& question, std::function<void(bool yes)> answer) override;
    void EndProgram() override { m_endProgram(); }

private:
    QWidget& m_window;
    QPointer<QWidget> m_waitFrame;
    QPointer<QWidget> m_updateButton;
    std::function<void()> m_endProgram;
    bool m_waiting = false;
};
