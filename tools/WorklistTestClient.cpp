#include "tools/WorklistTestClient.h"

#include <QThread>

#include "platform/ErrorTrap.h"
#include "platform/MwlError.h"
#include "tools/TextBoxText.h"
#include "worklist/Tags.h"

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString Block(const DicomDataset& match) {
    const auto step = match.SequenceItem(Tags::StepSequence);
    const QString modality = step ? step->Item(Tags::Modality).Text() : QString();
    return kCrLf + QStringLiteral("Name=") + match.Item(Tags::PatientName).Text() + kCrLf +
           QStringLiteral("ID=") + match.Item(Tags::PatientId).Text() + kCrLf +
           QStringLiteral("Accession num=") + match.Item(Tags::AccessionNumber).Text() + kCrLf +
           QStringLiteral("DOB=") + match.Item(Tags::PatientBirthDate).Text() + kCrLf +
           QStringLiteral("Modality=") + modality + kCrLf + QStringLiteral("-----") + kCrLf;
}

// Patient's Name, a step item holding only an empty Scheduled Procedure Step
// Start Time, Accession Number, Patient's Birth Date and Patient ID; the keys
// go out as typed ("*" included), and an empty key asks for any value.
DicomDataset Identifier(const QString& lastName, const QString& accession,
                        const QString& patientId) {
    DicomDataset identifier;
    identifier.Add(Tags::PatientName, lastName);
    identifier.AddSequenceItem(Tags::StepSequence).Add(Tags::StepStartTime, QVariant());
    identifier.Add(Tags::AccessionNumber, accession);
    identifier.Add(Tags::PatientBirthDate, QVariant());
    identifier.Add(Tags::PatientId, patientId);
    return identifier;
}

// What one run appends: a line break, "No results found" when nothing
// matched, then one block per match.
QString ResultText(const std::vector<DicomDataset>& matches) {
    QString text = kCrLf;
    if (matches.empty()) text += QStringLiteral("No results found");
    for (const DicomDataset& match : matches) text += Block(match);
    return text;
}

}  // namespace

WorklistTestClient::WorklistTestClient(WorklistQueryForm form, MessageSink showMessage,
                                       QObject* parent)
    : QObject(parent), m_form(form), m_showMessage(std::move(showMessage)) {}

WorklistTestClient::~WorklistTestClient() {
    if (!m_thread) return;
    m_thread->wait();
    delete m_thread;
}

FindTarget WorklistTestClient::Target() const {
    bool ok = false;
    const QString portText = m_form.RemotePort.text();
    const int port = portText.trimmed().toInt(&ok);
    if (!ok)
        throw MwlError(QStringLiteral("Type mismatch: port '%1' is not a number.").arg(portText));
    return {m_form.RemoteNode.text(), port, m_form.RemoteAE.text(), QStringLiteral("TALVEK"),
            QStringLiteral("WORKLIST")};
}

void WorklistTestClient::cmdQuery_Click() {
    if (m_thread) return;
    FindTarget target;
    DicomDataset identifier;
    bool ready = false;
    Trapped(
        [&] {
            target = Target();
            identifier = Identifier(m_form.txtLastname.text(), m_form.txtAccessionNumber.text(),
                                    m_form.txtHospNum.text());
            ready = true;
        },
        [this](const QString& why) { Failed(why); });
    if (!ready) return;
    auto outcome = std::make_shared<Outcome>();
    m_thread = QThread::create([target, identifier, outcome] {
        Trapped([&] { outcome->matches = DicomQueryClient::Find(target, identifier); },
                [&](const QString& why) { outcome->failure = why; });
    });
    // Delivered on this object's thread once the query thread is done.
    connect(m_thread, &QThread::finished, this, [this, outcome] { Finished(outcome); });
    m_form.cmdQuery.setEnabled(false);
    m_thread->start();
}

void WorklistTestClient::Finished(const std::shared_ptr<Outcome>& outcome) {
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    m_form.cmdQuery.setEnabled(true);
    if (outcome->failure) {
        Failed(*outcome->failure);
        return;
    }
    AppendToBox(m_form.txtQueryResult, ResultText(outcome->matches));
}

void WorklistTestClient::Failed(const QString& why) {
    m_showMessage(why);
    AppendToBox(m_form.txtQueryResult, ResultText({}));
}
