#include "update/WindowUpdateView.h"

#include <QApplication>
#include <QMessageBox>

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

void WindowUpdateView::ShowMessage(const QString& text) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, m_window.windowTitle(), text, QMessageBox::Ok,
                                &m_window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void WindowUpdateView::AskYesNo(const QString& question, std::function<void(bool yes)> answer) {
    auto* box = new QMessageBox(QMessageBox::Question, m_window.windowTitle(), question,
                                QMessageBox::Yes | QMessageBox::No, &m_window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box, [answer = std::move(answer)](int result) {
        answer(result == QMessageBox::Yes);
    });
    box->open();
}
