#pragma once

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <array>

#include "app/ModeOptions.h"

// The controls of the main window, built and laid out in code. Every control's
// object name is its member name, so the bindings, the tools and the tests
// find it by name; a member of a control array carries its index after an
// underscore ("Label12_0" to "Label12_5"). Layouts do the resizing: the tab
// control follows the window, the log grows in both directions with its
// command frame kept at the right edge, and the SQL result box grows in
// height. The status strip stays at the window's foot, below every tab.
class MainWindowUi {
public:
    explicit MainWindowUi(QWidget& window);

    // The designed caption of the window and of its title band.
    static QString Caption();

    QRadioButton* ModeButton(ModeOptions::Option option) const;

    // Title band.
    QFrame* Shape1;
    QLabel* Label37;
    QLineEdit* txtWarning;
    QTabWidget* SSTab1;

    // Status strip, below the tabs.
    QFrame* fraStatus;
    QLabel* lblStatusPorts;
    QLabel* lblStatusAssociations;
    QLabel* lblStatusQueries;
    QLabel* lblStatusHis;
    QLabel* lblStatusSteps;

    // "&Log"
    QFrame* fraLog;
    QLabel* lblComm;
    QPlainTextEdit* Logger;
    QFrame* fraCommand;
    QPushButton* cmdTest;
    QPushButton* cmdDoneExams;
    QPlainTextEdit* Text1;

    // "&Options"
    QLabel* Label8;
    QLineEdit* txtPort;
    QLabel* lblPortNote;  // "takes effect at the next start"
    QLabel* Label10;
    QLineEdit* txtInstName;
    QLabel* Label11;
    QLineEdit* txtResultNumber;
    QCheckBox* chkShowRequests;
    QCheckBox* chkReplaceEnye;
    QCheckBox* chkGenStudyUID;
    QCheckBox* chkTrace;
    QGroupBox* Frame3;
    QRadioButton* optTALVEK;
    QRadioButton* optPELTA;
    QRadioButton* optCorvante;
    QRadioButton* optBramwoods;
    QRadioButton* optOrvelline;
    QLabel* Label9;
    QLineEdit* txtHL7Folder;
    QPushButton* cmdDLLUpdate;
    QFrame* fraPlsWait;
    QLabel* Label43;
    // Read-only: what the "Security" settings put in force, and where the
    // activity log file goes.
    QGroupBox* fraSecurity;
    QLineEdit* txtSecTls;
    QLineEdit* txtSecCertificate;
    QLineEdit* txtSecTrusted;
    QLineEdit* txtSecPlainPort;
    QLineEdit* txtSecCallingAE;
    QLineEdit* txtSecNetworks;
    QLineEdit* txtSecCalledAE;
    QLineEdit* txtSecLogFolder;

    // "&Test"
    std::array<QLabel*, 6> Label12;
    QLineEdit* txtRequestNum;
    QLineEdit* txtModality;
    QLineEdit* txtEndDate;
    QLineEdit* txtStartDate;
    QLineEdit* txtPatName;
    QLineEdit* txtHNum;
    QPushButton* cmdQueryStr;
    QPlainTextEdit* txtSQLStr;
    QPushButton* cmdRunSQL;
    QCheckBox* chkReturnThis;
    QPlainTextEdit* txtSQLResult;

    // "DICOM &Query"
    QGroupBox* Frame1;
    QLabel* lblRemoteNode;
    QLineEdit* RemoteNode;
    QLabel* lblRemotePort;
    QLineEdit* RemotePort;
    QLabel* lblRemoteAE;
    QLineEdit* RemoteAE;
    QGroupBox* Frame2;
    QLabel* lblCallingAE;
    QLineEdit* CallingAE;
    QLabel* lblMoveDestination;
    QLineEdit* MoveDestination;
    QCheckBox* chkQueryWorklist;
    QLabel* lblLastname;
    QLineEdit* txtLastname;
    QLabel* lblAccessionNumber;
    QLineEdit* txtAccessionNumber;
    QLabel* lblHospNum;
    QLineEdit* txtHospNum;
    QPushButton* cmdQuery;
    QPlainTextEdit* txtQueryResult;

    // "&Performed Steps": the steps the modalities reported last.
    QTableWidget* tblSteps;

private:
    void BuildTitleBand(QWidget& window);
    void BuildStatusStrip(QWidget& window);
    QWidget* BuildLogTab();
    QWidget* BuildOptionsTab();
    QGroupBox* BuildConnectionModeFrame(QWidget* parent);
    QGroupBox* BuildSecurityFrame(QWidget* parent);
    QWidget* BuildTestTab();
    QWidget* BuildQueryTab();
    QWidget* BuildStepsTab();
    QGroupBox* BuildRemoteFrame(QWidget* parent);
    QGroupBox* BuildLocalFrame(QWidget* parent);
};
