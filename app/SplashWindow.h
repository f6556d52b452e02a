#pragma once

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

// The start-up window "frmSplash": it gives the network and the HIS database
// server time to become ready before the service starts. Timer1 starts the
// service after the delay, Timer2 counts the seconds down in lblTime (on past
// zero, to no effect), and "Start" starts at once. Starting stops both
// timers first, so the service is started exactly once whatever fires later.
class SplashWindow : public QWidget {
    Q_OBJECT
public:
    explicit SplashWindow(int delaySeconds = 60, QWidget* parent = nullptr);

signals:
    // Emitted once, when the service is to start.
    void Started();

private:
    void cmdSTART_Click();
    void Timer2_Timer();

    QLabel* m_label1;
    QLabel* m_lblTime;
    QPushButton* m_cmdSTART;
    QTimer* m_timer1;
    QTimer* m_timer2;
    bool m_started = false;
};
