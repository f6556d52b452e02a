#include "app/SplashWindow.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <limits>

namespace {
// A timer's interval is a 32-bit count of milliseconds.
constexpr int kLongestDelaySeconds = std::numeric_limits<int>::max() / 1000;
}  // namespace

SplashWindow::SplashWindow(int delaySeconds, QWidget* parent)
    : QWidget(parent),
      m_label1(new QLabel(this)),
      m_lblTime(new QLabel(this)),
      m_cmdSTART(new QPushButton(this)),
      m_timer1(new QTimer(this)),
      m_timer2(new QTimer(this)) {
    delaySeconds = qBound(0, delaySeconds, kLongestDelaySeconds);
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(QStringLiteral("Auto-Delay"));
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setText(
        QStringLiteral("Auto-delay to wait for Network and Server to be ready.  Click Start."));
    m_label1->setWordWrap(true);
    m_lblTime->setObjectName(QStringLiteral("lblTime"));
    m_lblTime->setText(QString::number(delaySeconds));
    m_cmdSTART->setObjectName(QStringLiteral("cmdSTART"));
    m_cmdSTART->setText(QStringLiteral("Start"));

    auto* row = new QHBoxLayout;
    row->addWidget(m_lblTime);
    row->addStretch(1);
    row->addWidget(m_cmdSTART);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label1);
    layout->addLayout(row);

    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setSingleShot(true);
    m_timer1->setInterval(delaySeconds * 1000);
    m_timer2->setObjectName(QStringLiteral("Timer2"));
    m_timer2->setInterval(1000);
    connect(m_cmdSTART, &QPushButton::clicked, this, &SplashWindow::cmdSTART_Click);
    connect(m_timer1, &QTimer::timeout, this, &SplashWindow::cmdSTART_Click);
    connect(m_timer2, &QTimer::timeout, this, &SplashWindow::Timer2_Timer);
    m_timer1->start();
    m_timer2->start();
}

void SplashWindow::cmdSTART_Click() {
    m_timer1->stop();
    m_timer2->stop();
    if (m_started) return;
    m_started = true;
    emit Started();
}

void SplashWindow::Timer2_Timer() {
    m_lblTime->setText(QString::number(m_lblTime->text().toInt() - 1));
}
