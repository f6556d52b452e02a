#include "update/WindowUpdateView.h"

#include <QApplication>

#include "tools/MessageBoxes.h"

WindowUpdateView::WindowUpdateView(QWidget& window, QWidget& waitFrame, QWidget& updateButton,
                                   std::function<void()> endProgram)
    : m_window(window),
      m_waitFrame(&waitFrame),
      m_updateButton(&updateButton),
      m_endProgram(std::move(endProgram)) {}

WindowUpdateView::~WindowUpdateView() { ShowWaiting(false); }

void WindowUpdateView::ShowWaiting(bool waiting) {
    if (waiting == m_waiting) return;
    m_waiting = waiting;
    if (m_waitFrame) m_waitFrame->setVisible(waiting);
    if (m_updateButton) m_updateButton->setEnabled(!waiting);
    if (waiting)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void WindowUpdateView::ShowMessage(const QString& text) { MessageBoxes::Warn(m_window, text); }

void WindowUpdateView::AskYesNo(const QString& question, std::function<void(bool yes)> answer) {
    MessageBoxes::Ask(m_window, question, std::move(answer));
}
