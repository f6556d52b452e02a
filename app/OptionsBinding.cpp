#include "app/OptionsBinding.h"

#include <QEvent>
#include <QSignalBlocker>

#include "platform/ErrorTrap.h"

OptionsBinding::OptionsBinding(const MainWindowUi& ui, ServerRuntime& runtime,
                               MessageSink showMessage, QObject* parent)
    : QObject(parent), m_ui(ui), m_runtime(runtime), m_showMessage(std::move(showMessage)) {
    Connect();
}

void OptionsBinding::Connect() {
    for (int i = 0; i < ModeOptions::Count; ++i) {
        const auto option = static_cast<ModeOptions::Option>(i);
        connect(m_ui.ModeButton(option), &QRadioButton::clicked, this,
                [this, option] { optMode_Click(option); });
    }
    connect(m_ui.txtPort, &QLineEdit::textChanged, this, &OptionsBinding::txtPort_Change);
    connect(m_ui.txtInstName, &QLineEdit::textChanged, this, &OptionsBinding::txtInstName_Change);
    connect(m_ui.txtResultNumber, &QLineEdit::returnPressed, this,
            &OptionsBinding::txtResultNumber_Enter);
    connect(m_ui.chkGenStudyUID, &QCheckBox::clicked, this, &OptionsBinding::chkGenStudyUID_Click);
    m_ui.txtHL7Folder->installEventFilter(this);
}

// The store already holds what the load restored (the port normalised), so
// the boxes are filled without their change handlers.
void OptionsBinding::ShowRestored() {
    const ModeOptions& options = m_runtime.Options();
    for (int i = 0; i < ModeOptions::Count; ++i) {
        const auto option = static_cast<ModeOptions::Option>(i);
        if (options.Selected(option)) m_ui.ModeButton(option)->setChecked(true);
    }
    const StartupSettings& loaded = m_runtime.Loaded();
    const QSignalBlocker port(m_ui.txtPort);
    const QSignalBlocker institution(m_ui.txtInstName);
    m_ui.txtPort->setText(loaded.portText);
    ShowPortNote();
    m_ui.txtHL7Folder->setText(loaded.hl7Folder);
    m_ui.txtInstName->setText(loaded.institutionName);
}

void OptionsBinding::ShowPrepared() {
    const StartupSettings& loaded = m_runtime.Loaded();
    m_ui.txtResultNumber->setText(loaded.resultNumber);
    m_ui.chkGenStudyUID->setChecked(loaded.generateStudyUid);
}

bool OptionsBinding::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui.txtHL7Folder && event->type() == QEvent::FocusOut) txtHL7Folder_LostFocus();
    return QObject::eventFilter(watched, event);
}

template <typename Handler>
void OptionsBinding::Trap(Handler&& handler) {
    Trapped(std::forward<Handler>(handler), m_showMessage);
}

void OptionsBinding::optMode_Click(ModeOptions::Option option) {
    Trap([&] { m_runtime.ChangeMode(option, m_showMessage); });
}

void OptionsBinding::txtPort_Change(const QString& text) {
    Trap([&] { StartupSettings::SavePort(m_runtime.Store(), text); });
    ShowPortNote();
}

// The listener keeps the port it started with: a new one is only saved.
void OptionsBinding::ShowPortNote() {
    m_ui.lblPortNote->setVisible(m_ui.txtPort->text() != m_runtime.Loaded().portText);
}

void OptionsBinding::txtInstName_Change(const QString& text) {
    Trap([&] { StartupSettings::SaveInstitutionName(m_runtime.Store(), text); });
}

void OptionsBinding::txtHL7Folder_LostFocus() {
    Trap([&] { StartupSettings::SaveHl7Folder(m_runtime.Store(), m_ui.txtHL7Folder->text()); });
}

void OptionsBinding::txtResultNumber_Enter() {
    Trap([&] {
        const QString text = m_ui.txtResultNumber->text();
        StartupSettings::SaveResultNumber(m_runtime.Store(), text);
        m_runtime.Settings().Change(
            [&](QuerySnapshot& snapshot) { snapshot.resultLimitText = text.trimmed(); });
    });
}

void OptionsBinding::chkGenStudyUID_Click() {
    Trap([&] {
        const bool ticked = m_ui.chkGenStudyUID->checkState() == Qt::Checked;
        StartupSettings::SaveGenerateStudyUid(m_runtime.Store(), ticked);
        m_runtime.CheckStudyUidSwitch(ticked, m_showMessage);
    });
}
