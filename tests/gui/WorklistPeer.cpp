#include "gui/WorklistPeer.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTest>

#include "gui/WindowHarness.h"

namespace {

// wlmscpfs ignores a file that lacks any attribute a worklist item must have.
QString Dump(const PeerItem& item, int n) {
    return QStringLiteral(
               "(0008,0005) CS [ISO_IR 100]\n"
               "(0008,0050) SH [%1]\n"
               "(0008,0090) PN [REFERRER]\n"
               "(0010,0010) PN [%2]\n"
               "(0010,0020) LO [%3]\n"
               "(0010,0030) DA [%4]\n"
               "(0010,0040) CS [O]\n"
               "(0020,000d) UI [1.2.826.0.1.3680043.2.1143.%5]\n"
               "(0032,1060) LO [CHEST]\n"
               "(0040,0100) SQ\n"
               "(fffe,e000) -\n"
               "(0008,0060) CS [%6]\n"
               "(0040,0001) AE [STATION1]\n"
               "(0040,0002) DA [20261201]\n"
               "(0040,0003) TM [080000]\n"
               "(0040,0006) PN [PERFORMER]\n"
               "(0040,0007) LO [CHEST PA]\n"
               "(0040,0009) SH [SPS%5]\n"
               "(fffe,e00d) -\n"
               "(fffe,e0dd) -\n"
               "(0040,1001) SH [RP%5]\n")
        .arg(item.accession, item.patientName, item.patientId, item.birthDate)
        .arg(n)
        .arg(item.modality);
}

}  // namespace

WorklistPeer::WorklistPeer() { QDir(m_root.path()).mkdir(QLatin1String(kAeTitle)); }

WorklistPeer::~WorklistPeer() {
    if (m_server.state() == QProcess::NotRunning) return;
    m_server.terminate();
    if (!m_server.waitForFinished(5000)) {
        m_server.kill();
        m_server.waitForFinished(5000);
    }
}

testing::AssertionResult WorklistPeer::Add(const PeerItem& item) {
    const QString folder = m_root.filePath(QLatin1String(kAeTitle));
    const int n = ++m_items;
    const QString dump = m_root.filePath(QStringLiteral("item%1.dump").arg(n));
    QFile file(dump);
    if (!file.open(QIODevice::WriteOnly)) return testing::AssertionFailure() << "cannot write dump";
    file.write(Dump(item, n).toLatin1());
    file.close();
    QProcess convert;
    convert.setProcessChannelMode(QProcess::MergedChannels);
    convert.start(QStringLiteral("dump2dcm"), {dump, folder + QStringLiteral("/item%1.wl").arg(n)});
    if (!convert.waitForFinished(30000) || convert.exitCode() != 0)
        return testing::AssertionFailure() << "dump2dcm: " << convert.readAll().toStdString();
    return testing::AssertionSuccess();
}

testing::AssertionResult WorklistPeer::Start() {
    QFile lock(m_root.filePath(QLatin1String(kAeTitle) + QStringLiteral("/lockfile")));
    if (!lock.open(QIODevice::WriteOnly)) return testing::AssertionFailure() << "no lockfile";
    lock.close();
    m_port = FreePort();
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.start(QStringLiteral("wlmscpfs"),
                   {QStringLiteral("-dfp"), m_root.path(), QString::number(m_port)});
    if (!m_server.waitForStarted(10000))
        return testing::AssertionFailure() << "wlmscpfs did not start";
    const bool accepting = QTest::qWaitFor(
        [&] {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(m_port));
            return probe.waitForConnected(200);
        },
        20000);
    if (!accepting)
        return testing::AssertionFailure()
               << "wlmscpfs does not accept: " << m_server.readAll().toStdString();
    return testing::AssertionSuccess();
}
