#pragma once

#include <QThread>
#include <functional>

#include "app/MainWindowUi.h"
#include "platform/Mailbox.h"
#include "worklist/StatusView.h"

// The communication label and the SQL box of the main window. The query
// workers call it from their threads; the controls change on the window's.
class WidgetStatusView : public StatusView {
public:
    WidgetStatusView(const MainWindowUi& ui, QObject* window) : m_ui(ui), m_window(window) {}

    void SetCommState(const QString& text) override {
        OnWindow([this, text] { m_ui.lblComm->setText(text); });
    }
    void ShowSql(const QString& sql) override {
        OnWindow([this, sql] { m_ui.txtSQLStr->setPlainText(sql); });
    }

private:
    void OnWindow(std::function<void()> show) {
        if (QThread::currentThread() == m_window.thread())
            show();
        else
            m_window.Post(std::move(show));
    }

    const MainWindowUi& m_ui;
    Mailbox m_window;
};
