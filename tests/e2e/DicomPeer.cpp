#include "e2e/DicomPeer.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");

QString ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return QString::fromLatin1(file.readAll());
}

}  // namespace

std::optional<unsigned> FindOutcome::FinalStatus() const {
    if (statuses.empty()) return std::nullopt;
    return statuses.back();
}

bool FindOutcome::FailedUnableToProcess() const {
    const auto status = FinalStatus();
    return status && (*status & 0xF000u) == 0xC000u;
}

QString FindOutcome::ErrorComment() const {
    static const QRegularExpression comment(QStringLiteral(R"(\(0000,0902\) LO \[(.*)\]\s+#)"));
    QString last;
    for (const auto& match : comment.globalMatch(output)) last = match.captured(1);
    // A value of odd length arrives padded with a space.
    return last.trimmed();
}

QStringList FindOutcome::PatientIds() const {
    QStringList ids;
    for (const auto& match : matches)
        ids << QString::fromLatin1(Value(*match->getDataset(), DCM_PatientID));
    return ids;
}

FindScu::FindScu(int port, QStringList keys, QStringList options)
    : m_port(port), m_keys(std::move(keys)), m_options(std::move(options)) {}

void FindScu::Start() {
    QStringList arguments = m_options;
    for (const QString& key : m_keys) arguments << QStringLiteral("-k") << key;
    // -d prints the DIMSE status and status detail of every response.
    arguments << kLoopback << QString::number(m_port);
    if (!m_queryFile.isEmpty()) arguments << m_queryFile;
    arguments << QStringLiteral("-X") << QStringLiteral("-od") << m_folder.path()
              << QStringLiteral("-d");
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_folder.filePath(QStringLiteral("findscu.txt")));
    m_process.start(QStringLiteral("findscu"), arguments);
}

FindOutcome FindScu::Finish(int timeoutMs) {
    FindOutcome outcome;
    outcome.finished = m_process.waitForFinished(timeoutMs);
    if (!outcome.finished) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    outcome.exitCode = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    outcome.output = ReadFile(m_folder.filePath(QStringLiteral("findscu.txt")));
    static const QRegularExpression status(
        QStringLiteral(R"(DIMSE Status\s*:\s*0x([0-9a-fA-F]{4}))"));
    for (const auto& match : status.globalMatch(outcome.output))
        outcome.statuses.push_back(match.captured(1).toUInt(nullptr, 16));
    const QStringList files =
        QDir(m_folder.path()).entryList({QStringLiteral("rsp*.dcm")}, QDir::Files, QDir::Name);
    for (const QString& name : files) {
        auto file = std::make_unique<DcmFileFormat>();
        if (file->loadFile(QFile::encodeName(m_folder.filePath(name)).constData()).good())
            outcome.matches.push_back(std::move(file));
        outcome.files << m_folder.filePath(name);
    }
    return outcome;
}

FindOutcome FindScu::Run(int port, const QStringList& keys, const QStringList& options) {
    FindScu scu(port, keys, options);
    scu.Start();
    return scu.Finish();
}

QStringList WorklistKeys(const QStringList& extra) {
    return QStringList{QStringLiteral("PatientName="), QStringLiteral("PatientID="),
                       QStringLiteral("ScheduledProcedureStepSequence[0].Modality=CR")} +
           extra;
}

QStringList ModalityKeySet(const QString& modality) {
    QStringList keys = {"SpecificCharacterSet=",
                        "AccessionNumber=",
                        "ReferringPhysicianName=",
                        "PatientName=",
                        "PatientID=",
                        "PatientBirthDate=",
                        "PatientSex=",
                        "StudyInstanceUID=",
                        "RequestedProcedureID=",
                        "RequestedProcedureDescription=",
                        "AdmissionID=",
                        "CurrentPatientLocation="};
    const QString step = QStringLiteral("ScheduledProcedureStepSequence[0].");
    keys << step + QStringLiteral("Modality=") + modality;
    for (const char* key : {"ScheduledStationAETitle=", "ScheduledProcedureStepStartDate=",
                            "ScheduledProcedureStepStartTime=", "ScheduledPerformingPhysicianName=",
                            "ScheduledProcedureStepDescription=", "ScheduledProcedureStepID="})
        keys << step + QLatin1String(key);
    return keys;
}

bool Has(DcmItem& item, const DcmTagKey& tag) { return item.tagExists(tag, OFFalse); }

QByteArray Value(DcmItem& item, const DcmTagKey& tag) {
    OFString value;
    if (item.findAndGetOFStringArray(tag, value, OFFalse).bad()) return QByteArray();
    return QByteArray(value.c_str(), static_cast<qsizetype>(value.length()));
}

DcmItem* StepItem(DcmItem& response) {
    DcmItem* step = nullptr;
    if (response.findAndGetSequenceItem(DCM_ScheduledProcedureStepSequence, step, 0).bad())
        return nullptr;
    return step;
}

bool EchoSucceeds(int port, QString* output, const QStringList& options) {
    QProcess echo;
    echo.setProcessChannelMode(QProcess::MergedChannels);
    echo.start(QStringLiteral("echoscu"), QStringList{QStringLiteral("-v")} + options +
                                              QStringList{kLoopback, QString::number(port)});
    const bool finished = echo.waitForFinished(20000);
    if (!finished) {
        echo.kill();
        echo.waitForFinished(5000);
    }
    if (output) *output = QString::fromLatin1(echo.readAll());
    return finished && echo.exitStatus() == QProcess::NormalExit && echo.exitCode() == 0;
}
