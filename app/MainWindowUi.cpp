#include "app/MainWindowUi.h"

#include <QFontMetrics>
#include <QFormLayout>
#include <QHeaderView>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

#include "app/StartupSettings.h"

namespace {

// The design's measures are twips; 15 twips make one pixel at 96 dots per inch.
constexpr int Px(int twips) { return twips / 15; }

// The widest order file name the HL7 listing shows whole.
const QString kWideOrderFileName = QStringLiteral("ORDER00000001.HL7");

template <typename Control>
Control* Make(QWidget* parent, const char* name) {
    auto* control = new Control(parent);
    control->setObjectName(QLatin1String(name));
    return control;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
    QLabel* label = Make<QLabel>(parent, name);
    label->setText(text);
    return label;
}

QLineEdit* MakeBox(QWidget* parent, const char* name, const QString& text = QString()) {
    QLineEdit* box = Make<QLineEdit>(parent, name);
    box->setText(text);
    return box;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
    QPushButton* button = Make<QPushButton>(parent, name);
    button->setText(caption);
    return button;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption) {
    QCheckBox* check = Make<QCheckBox>(parent, name);
    check->setText(caption);
    return check;
}

QPlainTextEdit* MakeTextArea(QWidget* parent, const char* name) {
    QPlainTextEdit* area = Make<QPlainTextEdit>(parent, name);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return area;
}

QFont Font(const QString& family, qreal points, bool bold = false) {
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void Paint(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

}  // namespace

QString MainWindowUi::Caption() { return QStringLiteral("TALVEK PACS Modality Worklist Server"); }

MainWindowUi::MainWindowUi(QWidget& window) {
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    BuildTitleBand(window);
    layout->addWidget(Shape1);

    SSTab1 = Make<QTabWidget>(&window, "SSTab1");
    SSTab1->addTab(BuildLogTab(), QStringLiteral("&Log"));
    SSTab1->addTab(BuildOptionsTab(), QStringLiteral("&Options"));
    SSTab1->addTab(BuildTestTab(), QStringLiteral("&Test"));
    SSTab1->addTab(BuildQueryTab(), QStringLiteral("DICOM &Query"));
    SSTab1->addTab(BuildStepsTab(), QStringLiteral("&Performed Steps"));
    auto* tabMargin = new QVBoxLayout;
    tabMargin->setContentsMargins(Px(120), Px(120), Px(120), Px(120));
    tabMargin->addWidget(SSTab1);
    layout->addLayout(tabMargin, 1);
    BuildStatusStrip(window);
    layout->addWidget(fraStatus);
}

QRadioButton* MainWindowUi::ModeButton(ModeOptions::Option option) const {
    const std::array<QRadioButton*, ModeOptions::Count> buttons = {optTALVEK, optPELTA, optCorvante,
                                                                   optBramwoods, optOrvelline};
    return buttons[option];
}

void MainWindowUi::BuildTitleBand(QWidget& window) {
    Shape1 = Make<QFrame>(&window, "Shape1");
    Shape1->setAutoFillBackground(true);
    Paint(Shape1, QPalette::Window, QColor(44, 44, 44));
    Shape1->setFixedHeight(Px(735));

    Label37 = MakeLabel(Shape1, "Label37", Caption());
    Label37->setFont(Font(QStringLiteral("Lucida Sans Unicode"), 18));
    Paint(Label37, QPalette::WindowText, QColor(224, 224, 224));

    txtWarning = MakeBox(Shape1, "txtWarning", QStringLiteral("Do not close this window."));
    txtWarning->setReadOnly(true);
    txtWarning->setFocusPolicy(Qt::NoFocus);
    txtWarning->setFrame(false);
    txtWarning->setFont(Font(QStringLiteral("Arial"), 8.25, true));
    txtWarning->setFixedWidth(Px(2775));
    Paint(txtWarning, QPalette::Base, QColor(44, 44, 44));
    Paint(txtWarning, QPalette::Text, Qt::white);

    auto* band = new QHBoxLayout(Shape1);
    band->setContentsMargins(Px(240), 0, Px(240), 0);
    band->addWidget(Label37);
    band->addStretch(1);
    band->addWidget(txtWarning);
}

void MainWindowUi::BuildStatusStrip(QWidget& window) {
    fraStatus = Make<QFrame>(&window, "fraStatus");
    fraStatus->setFrameShape(QFrame::StyledPanel);
    lblStatusPorts = MakeLabel(fraStatus, "lblStatusPorts", QString());
    lblStatusAssociations = MakeLabel(fraStatus, "lblStatusAssociations", QString());
    lblStatusQueries = MakeLabel(fraStatus, "lblStatusQueries", QString());
    lblStatusHis = MakeLabel(fraStatus, "lblStatusHis", QString());
    lblStatusSteps = MakeLabel(fraStatus, "lblStatusSteps", QString());
    lblStatusSteps->hide();
    auto* strip = new QHBoxLayout(fraStatus);
    strip->setContentsMargins(Px(120), Px(45), Px(120), Px(45));
    strip->setSpacing(Px(360));
    for (QLabel* field : {lblStatusPorts, lblStatusAssociations, lblStatusQueries, lblStatusHis,
                          lblStatusSteps})
        strip->addWidget(field);
    strip->addStretch(1);
}

QWidget* MainWindowUi::BuildLogTab() {
    auto* page = new QWidget;
    fraLog = Make<QFrame>(page, "fraLog");
    lblComm = MakeLabel(fraLog, "lblComm", QStringLiteral("..."));
    Logger = MakeTextArea(fraLog, "Logger");
    Logger->setReadOnly(true);
    Logger->setMinimumSize(Px(3000), Px(1500));

    fraCommand = Make<QFrame>(fraLog, "fraCommand");
    cmdTest = MakeButton(fraCommand, "cmdTest", QStringLiteral("Test"));
    cmdDoneExams = MakeButton(fraCommand, "cmdDoneExams", QStringLiteral("Exams Done..."));
    // The HL7 folder listing: a name is never broken across lines, and the
    // box is wide enough for an order file's name as modalities' sites use.
    Text1 = MakeTextArea(fraCommand, "Text1");
    Text1->setFont(Font(QStringLiteral("Verdana"), 8.25));
    Text1->setFixedHeight(Px(1455));
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    const int nameWidth = QFontMetrics(Text1->font()).horizontalAdvance(kWideOrderFileName) +
                          Text1->verticalScrollBar()->sizeHint().width() + 2 * Text1->frameWidth() + 8;
    fraCommand->setFixedWidth(std::max(Px(1605), nameWidth));
    for (QPushButton* button : {cmdTest, cmdDoneExams}) button->setFixedHeight(Px(495));
    auto* commands = new QVBoxLayout(fraCommand);
    commands->setContentsMargins(0, 0, 0, 0);
    commands->addWidget(cmdTest);
    commands->addWidget(cmdDoneExams);
    commands->addSpacing(Px(1785));
    commands->addWidget(Text1);

    auto* grid = new QGridLayout(fraLog);
    grid->addWidget(lblComm, 0, 0);
    grid->addWidget(Logger, 1, 0);
    grid->addWidget(fraCommand, 0, 1, 2, 1, Qt::AlignTop);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(1, 1);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(fraLog);
    return page;
}

QWidget* MainWindowUi::BuildOptionsTab() {
    auto* page = new QWidget;
    Label8 = MakeLabel(page, "Label8", QStringLiteral("port:"));
    txtPort = MakeBox(page, "txtPort", QStringLiteral("105"));
    lblPortNote = MakeLabel(page, "lblPortNote", QStringLiteral("takes effect at the next start"));
    lblPortNote->hide();
    Label10 = MakeLabel(page, "Label10", QStringLiteral("Inst. Name:"));
    txtInstName = MakeBox(page, "txtInstName");
    Label11 = MakeLabel(page, "Label11", QStringLiteral("query number:"));
    txtResultNumber = MakeBox(page, "txtResultNumber", QStringLiteral("300"));
    // Digits only: a limit that is no number would fail every query.
    txtResultNumber->setValidator(
        new QRegularExpressionValidator(StartupSettings::ResultNumberRule(), txtResultNumber));
    for (QLineEdit* number : {txtPort, txtResultNumber}) number->setMaximumWidth(Px(1500));
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(txtPort);
    portRow->addWidget(lblPortNote);
    portRow->addStretch(1);
    auto* boxes = new QFormLayout;
    boxes->addRow(Label8, portRow);
    boxes->addRow(Label10, txtInstName);
    boxes->addRow(Label11, txtResultNumber);

    chkShowRequests = MakeCheck(page, "chkShowRequests", QStringLiteral("Show Requested Elements"));
    chkReplaceEnye =
        MakeCheck(page, "chkReplaceEnye", QStringLiteral("Replace ñ with n (alt 164 / 165)"));
    chkGenStudyUID = MakeCheck(page, "chkGenStudyUID", QStringLiteral("Generate Study UID"));
    chkTrace = MakeCheck(page, "chkTrace", QStringLiteral("Trace"));
    cmdDLLUpdate = MakeButton(page, "cmdDLLUpdate", QStringLiteral("Program Update"));
    fraPlsWait = Make<QFrame>(page, "fraPlsWait");
    Label43 = MakeLabel(fraPlsWait, "Label43", QStringLiteral("Downloading, please wait..."));
    Label43->setFont(Font(QStringLiteral("Tahoma"), 9.75, true));
    (new QVBoxLayout(fraPlsWait))->addWidget(Label43);
    fraPlsWait->hide();

    auto* left = new QVBoxLayout;
    left->addLayout(boxes);
    for (QCheckBox* check : {chkShowRequests, chkReplaceEnye, chkGenStudyUID, chkTrace})
        left->addWidget(check);
    left->addWidget(cmdDLLUpdate, 0, Qt::AlignLeft);
    left->addWidget(fraPlsWait);
    left->addStretch(1);

    auto* right = new QVBoxLayout;
    right->addWidget(BuildConnectionModeFrame(page));
    right->addWidget(BuildSecurityFrame(page));
    right->addStretch(1);
    auto* layout = new QHBoxLayout(page);
    layout->addLayout(left, 1);
    layout->addLayout(right, 1);
    return page;
}

QGroupBox* MainWindowUi::BuildSecurityFrame(QWidget* parent) {
    fraSecurity = Make<QGroupBox>(parent, "fraSecurity");
    fraSecurity->setTitle(QStringLiteral("Security"));
    auto* rows = new QFormLayout(fraSecurity);
    const auto row = [&](const char* name, const QString& caption) {
        QLineEdit* box = MakeBox(fraSecurity, name);
        box->setReadOnly(true);
        rows->addRow(caption, box);
        return box;
    };
    txtSecTls = row("txtSecTls", QStringLiteral("TLS:"));
    txtSecCertificate = row("txtSecCertificate", QStringLiteral("Certificate:"));
    txtSecTrusted = row("txtSecTrusted", QStringLiteral("Trusted certificates:"));
    txtSecPlainPort = row("txtSecPlainPort", QStringLiteral("Plain DICOM port:"));
    txtSecCallingAE = row("txtSecCallingAE", QStringLiteral("Calling AE titles:"));
    txtSecNetworks = row("txtSecNetworks", QStringLiteral("Networks:"));
    txtSecCalledAE = row("txtSecCalledAE", QStringLiteral("Called AE title:"));
    txtSecLogFolder = row("txtSecLogFolder", QStringLiteral("Log file folder:"));
    return fraSecurity;
}

QGroupBox* MainWindowUi::BuildConnectionModeFrame(QWidget* parent) {
    Frame3 = Make<QGroupBox>(parent, "Frame3");
    Frame3->setTitle(QStringLiteral("Connection Mode"));
    optTALVEK = Make<QRadioButton>(Frame3, "optTALVEK");
    optPELTA = Make<QRadioButton>(Frame3, "optPELTA");
    optCorvante = Make<QRadioButton>(Frame3, "optCorvante");
    optBramwoods = Make<QRadioButton>(Frame3, "optBramwoods");
    optOrvelline = Make<QRadioButton>(Frame3, "optOrvelline");
    optTALVEK->setText(QStringLiteral("TALVEK"));
    optPELTA->setText(QStringLiteral("PELTA"));
    optCorvante->setText(QStringLiteral("Corvante"));
    optBramwoods->setText(QStringLiteral("Bramwoods / HL7"));
    optOrvelline->setText(QStringLiteral("Orvelline"));
    Label9 = MakeLabel(Frame3, "Label9", QStringLiteral("HL7 Folder:"));
    txtHL7Folder = MakeBox(Frame3, "txtHL7Folder");

    auto* layout = new QVBoxLayout(Frame3);
    for (int i = 0; i < ModeOptions::Count; ++i)
        layout->addWidget(ModeButton(static_cast<ModeOptions::Option>(i)));
    auto* folder = new QHBoxLayout;
    folder->addWidget(Label9);
    folder->addWidget(txtHL7Folder, 1);
    layout->addLayout(folder);
    return Frame3;
}

QWidget* MainWindowUi::BuildTestTab() {
    auto* page = new QWidget;
    const char* labelNames[] = {"Label12_0", "Label12_1", "Label12_2",
                                "Label12_3", "Label12_4", "Label12_5"};
    const QString captions[] = {QStringLiteral("Request #"), QStringLiteral("Modality"),
                                QStringLiteral("End Date"),  QStringLiteral("Start Date"),
                                QStringLiteral("Pat Name"),  QStringLiteral("HopsNum")};
    for (size_t i = 0; i < Label12.size(); ++i)
        Label12[i] = MakeLabel(page, labelNames[i], captions[i]);
    txtRequestNum = MakeBox(page, "txtRequestNum");
    txtModality = MakeBox(page, "txtModality", QStringLiteral("CR"));
    txtEndDate = MakeBox(page, "txtEndDate");
    txtStartDate = MakeBox(page, "txtStartDate");
    txtPatName = MakeBox(page, "txtPatName");
    txtHNum = MakeBox(page, "txtHNum");
    const std::array<QLineEdit*, 6> keyBoxes = {txtRequestNum, txtModality, txtEndDate,
                                                txtStartDate,  txtPatName,  txtHNum};
    auto* keys = new QGridLayout;
    for (size_t i = 0; i < keyBoxes.size(); ++i) {
        const int row = static_cast<int>(i % 2);
        const int column = static_cast<int>(i / 2) * 2;
        keys->addWidget(Label12[i], row, column);
        keys->addWidget(keyBoxes[i], row, column + 1);
    }

    cmdQueryStr = MakeButton(page, "cmdQueryStr", QStringLiteral("Use Default SQL"));
    cmdRunSQL = MakeButton(page, "cmdRunSQL", QStringLiteral("&Test"));
    chkReturnThis = MakeCheck(page, "chkReturnThis", QStringLiteral("Return this Query"));
    txtSQLStr = MakeTextArea(page, "txtSQLStr");
    txtSQLStr->setFixedHeight(Px(1800));
    txtSQLResult = MakeTextArea(page, "txtSQLResult");
    txtSQLResult->setMinimumHeight(Px(600));
    auto* commands = new QHBoxLayout;
    commands->addWidget(cmdQueryStr);
    commands->addWidget(cmdRunSQL);
    commands->addWidget(chkReturnThis);
    commands->addStretch(1);

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(keys);
    layout->addLayout(commands);
    layout->addWidget(txtSQLStr);
    layout->addWidget(txtSQLResult, 1);
    return page;
}

QWidget* MainWindowUi::BuildQueryTab() {
    auto* page = new QWidget;
    auto* frames = new QHBoxLayout;
    frames->addWidget(BuildRemoteFrame(page), 1);
    frames->addWidget(BuildLocalFrame(page), 1);

    lblLastname = MakeLabel(page, "lblLastname", QStringLiteral("&Last Name:"));
    txtLastname = MakeBox(page, "txtLastname");
    lblAccessionNumber =
        MakeLabel(page, "lblAccessionNumber", QStringLiteral("Accession / &Req #:"));
    txtAccessionNumber = MakeBox(page, "txtAccessionNumber");
    lblHospNum = MakeLabel(page, "lblHospNum", QStringLiteral("&Hosp Num/Pat.ID:"));
    txtHospNum = MakeBox(page, "txtHospNum");
    const std::pair<QLabel*, QLineEdit*> keyRows[] = {{lblLastname, txtLastname},
                                                      {lblAccessionNumber, txtAccessionNumber},
                                                      {lblHospNum, txtHospNum}};
    const QString tips[] = {QStringLiteral("use * for wildcard"), QStringLiteral("or Request Num"),
                            QStringLiteral("or Request Num")};
    auto* keys = new QFormLayout;
    for (size_t i = 0; i < std::size(keyRows); ++i) {
        auto [label, box] = keyRows[i];
        label->setBuddy(box);
        label->setToolTip(tips[i]);
        box->setToolTip(tips[i]);
        keys->addRow(label, box);
    }

    cmdQuery = MakeButton(page, "cmdQuery", QStringLiteral("Query"));
    txtQueryResult = MakeTextArea(page, "txtQueryResult");
    txtQueryResult->setFont(Font(QStringLiteral("Verdana"), 8.25));
    txtQueryResult->setMinimumHeight(Px(600));

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(frames);
    layout->addLayout(keys);
    layout->addWidget(cmdQuery, 0, Qt::AlignLeft);
    layout->addWidget(txtQueryResult, 1);
    return page;
}

QWidget* MainWindowUi::BuildStepsTab() {
    auto* page = new QWidget;
    tblSteps = Make<QTableWidget>(page, "tblSteps");
    tblSteps->setColumnCount(6);
    tblSteps->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("Accession"),
                                         QStringLiteral("Patient"), QStringLiteral("Station"),
                                         QStringLiteral("State"), QStringLiteral("Write-back")});
    tblSteps->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblSteps->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblSteps->verticalHeader()->hide();
    tblSteps->horizontalHeader()->setStretchLastSection(true);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(tblSteps);
    return page;
}

// The initial node is the loopback address, so an untouched form queries
// this very machine and nothing else.
QGroupBox* MainWindowUi::BuildRemoteFrame(QWidget* parent) {
    Frame1 = Make<QGroupBox>(parent, "Frame1");
    Frame1->setTitle(QStringLiteral("Remote SCP"));
    lblRemoteNode = MakeLabel(Frame1, "lblRemoteNode", QStringLiteral("Node Name or IP Address"));
    RemoteNode = MakeBox(Frame1, "RemoteNode", QStringLiteral("127.0.0.1"));
    lblRemotePort = MakeLabel(Frame1, "lblRemotePort", QStringLiteral("Port Number"));
    RemotePort = MakeBox(Frame1, "RemotePort", QStringLiteral("105"));
    lblRemoteAE = MakeLabel(Frame1, "lblRemoteAE", QStringLiteral("AE Name"));
    RemoteAE = MakeBox(Frame1, "RemoteAE", QStringLiteral("REMOTE_AET"));
    auto* layout = new QFormLayout(Frame1);
    layout->addRow(lblRemoteNode, RemoteNode);
    layout->addRow(lblRemotePort, RemotePort);
    layout->addRow(lblRemoteAE, RemoteAE);
    return Frame1;
}

QGroupBox* MainWindowUi::BuildLocalFrame(QWidget* parent) {
    Frame2 = Make<QGroupBox>(parent, "Frame2");
    Frame2->setTitle(QStringLiteral("Local AE"));
    lblCallingAE = MakeLabel(Frame2, "lblCallingAE", QStringLiteral("Calling AE Name to Use"));
    CallingAE = MakeBox(Frame2, "CallingAE", QStringLiteral("TALVEK"));
    lblMoveDestination =
        MakeLabel(Frame2, "lblMoveDestination", QStringLiteral("Move Destination"));
    MoveDestination = MakeBox(Frame2, "MoveDestination", QStringLiteral("TALVEK"));
    chkQueryWorklist = MakeCheck(Frame2, "chkQueryWorklist", QStringLiteral("Worklist Query"));
    auto* layout = new QFormLayout(Frame2);
    layout->addRow(lblCallingAE, CallingAE);
    layout->addRow(lblMoveDestination, MoveDestination);
    layout->addRow(chkQueryWorklist);
    return Frame2;
}
