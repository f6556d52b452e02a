#pragma once

#include <QMessageBox>
#include <QString>
#include <QWidget>
#include <functional>

// The program's message boxes, all alike: the title of the window they
// belong to, whole (the box is wide enough for it), and an icon that says
// what kind of message it is. None runs a nested event loop: the service
// keeps serving, and the window repainting, while one is open.
class MessageBoxes {
public:
    // A problem for the operator, with a warning icon; the window stays
    // usable meanwhile.
    static QMessageBox* Warn(QWidget& window, const QString& text);
    // A question with Yes and No, window-modal; the answer comes once, when
    // the operator clicks (No when the box is closed otherwise).
    static QMessageBox* Ask(QWidget& window, const QString& question,
                            std::function<void(bool yes)> answer);

private:
    static QMessageBox* Make(QWidget& window, QMessageBox::Icon icon, const QString& text,
                             QMessageBox::StandardButtons buttons);
};
