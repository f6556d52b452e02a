#include "platform/dicom/WorklistListener.h"

#include <QMetaObject>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <dcmtk/oflog/oflog.h>

#include "platform/MwlError.h"
#include "platform/dicom/SocketTuning.h"
#include "platform/dicom/WorklistScpWorker.h"

namespace {

constexpr Uint16 kMaxAssociations = 16;
constexpr Uint32 kAcseTimeoutSeconds = 30;
constexpr Uint32 kDimseTimeoutSeconds = 60;
constexpr Uint32 kMaxPduBytes = 16384;
constexpr auto kListenWait = std::chrono::seconds(5);

[[noreturn]] void CannotListen(int port, const QString& why) {
    throw MwlError(QStringLiteral("Cannot listen on port %1: %2").arg(port).arg(why));
}

}  // namespace

WorklistListener::WorklistListener(QObject* serviceContext, FindDispatcher::Handler handler)
    : m_context(serviceContext), m_dispatcher(serviceContext, std::move(handler)) {
    // The toolkit narrates every association at its default level; the
    // activity log is the operator's record, so keep only its warnings.
    OFLog::configure(OFLogger::WARN_LOG_LEVEL);
}

WorklistListener::~WorklistListener() { Stop(); }

// Binds a probe socket to the port as the toolkit does (SO_REUSEADDR) and
// lets it go again: 0 when the port is free, otherwise the errno of the bind.
int WorklistListener::ProbePort(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return errno;
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::listen(fd, 1) == 0;
    const int error = bound ? 0 : errno;
    ::close(fd);
    return error;
}

void WorklistListener::CheckPortFree(int port) {
    if (port < 1 || port > 65535) CannotListen(port, QStringLiteral("not a valid TCP port."));
    if (const int error = ProbePort(port))
        CannotListen(port, QString::fromLocal8Bit(std::strerror(error)));
}

// The toolkit binds the port inside listen(), on the listening thread. Start()
// returns only once the port is really taken, so "listening" is never said
// before a modality can connect.
void WorklistListener::WaitUntilListening(int port) const {
    const auto deadline = std::chrono::steady_clock::now() + kListenWait;
    while (m_running.load() && ProbePort(port) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void WorklistListener::Configure(int port) {
    // The toolkit leaves Nagle's algorithm on unless this is set before its
    // network starts; small DIMSE messages would wait for delayed ACKs.
    qputenv("TCP_NODELAY", "1");
    DcmSCPConfig& config = m_pool->getConfig();
    if (!m_transportLayer) m_transportLayer = std::make_unique<QuickAckTransportLayer>();
    config.setTransportLayer(m_transportLayer.get());
    config.setPort(static_cast<Uint16>(port));
    config.setAETitle("TALVEK");
    config.setRespondWithCalledAETitle(OFTrue);
    config.setConnectionBlockingMode(DUL_NOBLOCK);
    config.setConnectionTimeout(1);
    config.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    config.setDIMSETimeout(kDimseTimeoutSeconds);
    config.setACSETimeout(kAcseTimeoutSeconds);
    config.setMaxReceivePDULength(kMaxPduBytes);
    config.setHostLookupEnabled(OFFalse);
    OFList<OFString> syntaxes;
    syntaxes.push_back(UID_LittleEndianExplicitTransferSyntax);
    syntaxes.push_back(UID_LittleEndianImplicitTransferSyntax);
    for (const char* sopClass :
         {UID_VerificationSOPClass, UID_FINDModalityWorklistInformationModel,
          UID_FINDPatientRootQueryRetrieveInformationModel,
          UID_FINDStudyRootQueryRetrieveInformationModel})
        config.addPresentationContext(sopClass, syntaxes);
    m_pool->setMaxThreads(kMaxAssociations);
}

void WorklistListener::Start(int port, FailureSink onFailure) {
    Stop();
    CheckPortFree(port);
    m_dispatcher.Open();
    m_pool = std::make_unique<WorklistScpPool>(m_dispatcher);
    Configure(port);
    m_running = true;
    m_thread = std::thread([this, port, onFailure = std::move(onFailure)] {
        const OFCondition result = m_pool->listen();
        m_running = false;
        if (result.bad() && onFailure) {
            const QString why = QStringLiteral("Cannot listen on port %1: %2")
                                    .arg(port)
                                    .arg(QString::fromLatin1(result.text()));
            QMetaObject::invokeMethod(m_context, [onFailure, why] { onFailure(why); },
                                      Qt::QueuedConnection);
        }
    });
    WaitUntilListening(port);
}

void WorklistListener::Stop() {
    if (!m_thread.joinable()) return;
    m_dispatcher.Shutdown();
    // The pool resets its run mode when listen() begins, so keep asking until
    // the listening thread has really ended.
    while (m_running.load()) {
        m_pool->stopAfterCurrentAssociations();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    m_thread.join();
    m_pool.reset();
}
