#pragma once

#include <QLineEdit>
#include <QObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/dicom/DicomDataset.h"
#include "platform/dicom/DicomQueryClient.h"

class QThread;

// The boxes of the "DICOM &Query" page the client reads and writes.
struct WorklistQueryForm {
    QLineEdit& RemoteNode;
    QLineEdit& RemotePort;
    QLineEdit& RemoteAE;
    QLineEdit& txtLastname;
    QLineEdit& txtAccessionNumber;
    QLineEdit& txtHospNum;
    QPushButton& cmdQuery;
    QPlainTextEdit& txtQueryResult;
};

// The worklist test client: one Modality Worklist query to any worklist
// server, this very process included, with the matches appended to the
// result box as text. The query runs on a thread of its own, so the window
// and the service go on while it waits; "Query" stays disabled until the
// answer is in.
class WorklistTestClient : public QObject {
    Q_OBJECT
public:
    using MessageSink = std::function<void(const QString&)>;

    WorklistTestClient(WorklistQueryForm form, MessageSink showMessage, QObject* parent = nullptr);
    // Waits for a query still running (its time-outs bound the wait).
    ~WorklistTestClient() override;

    void cmdQuery_Click();

private:
    struct Outcome {
        std::vector<DicomDataset> matches;
        std::optional<QString> failure;
    };

    FindTarget Target() const;
    void Finished(const std::shared_ptr<Outcome>& outcome);
    // One failure: one message and the empty listing.
    void Failed(const QString& why);

    WorklistQueryForm m_form;
    MessageSink m_showMessage;
    QThread* m_thread = nullptr;
};
