#pragma once

#include <dcmtk/dcmdata/dcfilefo.h>

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <vector>

// What DCMTK's findscu saw of one C-FIND.
struct FindOutcome {
    bool finished = false;  // ended by itself within the time-out
    int exitCode = -1;
    QString output;  // its standard output and error, debug level
    std::vector<std::unique_ptr<DcmFileFormat>> matches;  // rsp0001.dcm, rsp0002.dcm, ...
    QStringList files;               // their paths, there while the FindScu that ran lives
    std::vector<unsigned> statuses;  // DIMSE status of every C-FIND response, in order

    std::optional<unsigned> FinalStatus() const;
    bool Succeeded() const { return FinalStatus() == 0x0000u; }
    // A failure in the C000 range ("unable to process").
    bool FailedUnableToProcess() const;
    // The Error Comment (0000,0902) of the final response, as findscu printed it.
    QString ErrorComment() const;
    // Patient IDs of the matches, in the order they arrived.
    QStringList PatientIds() const;
};

// findscu, run as a separate process against the server on the loopback
// interface; the matches are written as files and read back with DCMTK.
class FindScu {
public:
    // keys are findscu -k arguments; options go before the address (-W is
    // added unless options name another information model).
    FindScu(int port, QStringList keys, QStringList options = {QStringLiteral("-W")});
    // A DICOM file holding the query keys (values in any character set).
    void SetQueryFile(const QString& path) { m_queryFile = path; }
    void Start();
    // True until findscu has ended (seen by an event loop or a wait).
    bool Running() const { return m_process.state() != QProcess::NotRunning; }
    FindOutcome Finish(int timeoutMs = 30000);
    static FindOutcome Run(int port, const QStringList& keys,
                           const QStringList& options = {QStringLiteral("-W")});

private:
    int m_port;
    QStringList m_keys;
    QStringList m_options;
    QString m_queryFile;
    QTemporaryDir m_folder;
    QProcess m_process;
};

// The keys of a worklist query for CR, plus extra ones.
QStringList WorklistKeys(const QStringList& extra = {});
// What a modality's worklist screen asks for: 12 keys at the top level and 7
// in the step item, all empty but the step's Modality.
QStringList ModalityKeySet(const QString& modality = QString());

// Reading back response values exactly as they came over the wire.
bool Has(DcmItem& item, const DcmTagKey& tag);
QByteArray Value(DcmItem& item, const DcmTagKey& tag);
DcmItem* StepItem(DcmItem& response);

// echoscu against the server; true when the C-ECHO succeeded. The options go
// before the address (TLS options, AE titles).
bool EchoSucceeds(int port, QString* output = nullptr, const QStringList& options = {});
