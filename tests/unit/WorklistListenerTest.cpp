#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include "Fakes.h"
#include "platform/MwlError.h"
#include "platform/dicom/WorklistListener.h"

namespace {

int FreeLoopbackPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    return probe.serverPort();
}

}  // namespace

// The toolkit opens the port on a thread of its own; a modality that connects
// the moment the server says it listens must not be refused.
TEST(WorklistListener, AcceptsConnectionsAsSoonAsStartReturns) {
    FakeLog log;
    FindDispatcher queries(log);
    for (int attempt = 1; attempt <= 5; ++attempt) {
        SCOPED_TRACE(attempt);
        const int port = FreeLoopbackPort();
        ASSERT_NE(port, 0);
        WorklistListener listener(queries, log);
        listener.Start(port, {});
        EXPECT_TRUE(listener.Listening());
        QTcpSocket modality;
        modality.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        EXPECT_TRUE(modality.waitForConnected(2000)) << modality.errorString().toStdString();
        modality.abort();
        listener.Stop();
        EXPECT_FALSE(listener.Listening());
    }
}

TEST(WorklistListener, PortInUseOrOutOfRangeIsRefusedByName) {
    FakeLog log;
    FindDispatcher queries(log);
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::Any, 0));
    WorklistListener listener(queries, log);
    for (const int port : {static_cast<int>(occupant.serverPort()), 0, 70000}) {
        SCOPED_TRACE(port);
        try {
            listener.Start(port, {});
            ADD_FAILURE() << "started on an unusable port";
        } catch (const MwlError& error) {
            EXPECT_TRUE(error.Description().startsWith(
                QStringLiteral("Cannot listen on port %1: ").arg(port)))
                << error.Description().toStdString();
        }
        EXPECT_FALSE(listener.Listening());
    }
}
