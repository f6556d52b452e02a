#include "worklist/ServiceYield.h"

#include <QCoreApplication>

void ServiceYield::operator()() {
    QCoreApplication::sendPostedEvents();
    if (m_sinceFullYield.isValid() && m_sinceFullYield.elapsed() < kFullYieldMs) return;
    QCoreApplication::processEvents();
    m_sinceFullYield.restart();
}
