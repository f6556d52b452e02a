#include "e2e/MppsClient.h"

#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace {

constexpr int kClientTimeoutMs = 120000;
const QString kScript = QStringLiteral(MWL_SOURCE_DIR "/tests/e2e/mpps_client.py");

QProcessEnvironment PythonEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PYTHONPATH"), QStringLiteral(MWL_PYTHON_DICOM_DIR));
    environment.insert(QStringLiteral("PYTHONDONTWRITEBYTECODE"), QStringLiteral("1"));
    return environment;
}

QJsonObject PlanOf(const StepCall& call) {
    QJsonObject message{{"op", call.op == StepCall::Op::Create ? "create" : "set"},
                        {"uid", call.uid}};
    if (call.status) message["status"] = *call.status;
    if (!call.accessions.isEmpty()) message["accessions"] = QJsonArray::fromStringList(call.accessions);
    if (!call.set.isEmpty()) message["set"] = call.set;
    if (!call.items.isEmpty()) message["items"] = call.items;
    return message;
}

StepReply ReplyOf(const QJsonObject& object) {
    StepReply reply;
    reply.associated = !object.contains("refused");
    reply.status = object.value("status").toInt(-1);
    reply.errorComment = object.value("error_comment").toString();
    if (object.contains("error_id")) reply.errorId = object.value("error_id").toInt();
    for (const QJsonValue& tag : object.value("attribute_ids").toArray())
        reply.attributeIds << tag.toString();
    return reply;
}

}  // namespace

StepCall StepCall::Create(const QString& uid, const QStringList& accessions) {
    StepCall call;
    call.uid = uid;
    call.accessions = accessions;
    return call;
}

StepCall StepCall::Set(const QString& uid, const QString& status) {
    StepCall call;
    call.op = Op::Set;
    call.uid = uid;
    call.status = status;
    return call;
}

MppsClient::MppsClient(int port, QString callingAeTitle)
    : m_port(port), m_calling(std::move(callingAeTitle)) {}

void MppsClient::UseTls(const QString& authority, const QString& certificate, const QString& key) {
    m_tls = QJsonObject{{"ca", authority}, {"cert", certificate}, {"key", key}};
}

std::vector<StepReply> MppsClient::Send(const std::vector<StepCall>& calls) {
    QJsonArray messages;
    for (const StepCall& call : calls) messages.append(PlanOf(call));
    QJsonObject plan{{"port", m_port},
                     {"calling", m_calling},
                     {"one_association", m_oneAssociation},
                     {"messages", messages}};
    if (!m_tls.isEmpty()) plan["tls"] = m_tls;
    QTemporaryDir folder;
    const QString planFile = folder.filePath(QStringLiteral("plan.json"));
    {
        QFile file(planFile);
        if (!file.open(QIODevice::WriteOnly)) {
            ADD_FAILURE() << "cannot write " << planFile.toStdString();
            return {};
        }
        file.write(QJsonDocument(plan).toJson());
    }
    QProcess python;
    python.setProcessEnvironment(PythonEnvironment());
    python.start(QStringLiteral("python3"), {kScript, planFile});
    const bool finished = python.waitForFinished(kClientTimeoutMs);
    const QByteArray output = python.readAllStandardOutput();
    const QJsonDocument replies = QJsonDocument::fromJson(output);
    if (!finished || python.exitCode() != 0 || !replies.isArray()) {
        if (!finished) python.kill();
        ADD_FAILURE() << "mpps_client.py failed: " << output.toStdString()
                      << python.readAllStandardError().toStdString();
        return {};
    }
    std::vector<StepReply> result;
    for (const QJsonValue& reply : replies.array()) result.push_back(ReplyOf(reply.toObject()));
    return result;
}

StepReply MppsClient::Send(const StepCall& call) {
    const std::vector<StepReply> replies = Send(std::vector<StepCall>{call});
    return replies.empty() ? StepReply() : replies.front();
}

testing::AssertionResult MppsClient::Available() {
    QProcess python;
    python.setProcessEnvironment(PythonEnvironment());
    python.setProcessChannelMode(QProcess::MergedChannels);
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QStringLiteral("import pynetdicom")});
    if (python.waitForFinished(60000) && python.exitCode() == 0) return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "pynetdicom is not importable from " MWL_PYTHON_DICOM_DIR
              " (configure with -DMWL_PYDICOM_GIT=... -DMWL_PYNETDICOM_GIT=..., git directories "
              "of their sources): "
           << python.readAll().toStdString();
}

std::vector<int> Statuses(const std::vector<StepReply>& replies) {
    std::vector<int> statuses;
    for (const StepReply& reply : replies) statuses.push_back(reply.status);
    return statuses;
}
