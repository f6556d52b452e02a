#pragma once

#include <QObject>
#include <functional>

#include "app/MainWindowUi.h"
#include "app/ServerRuntime.h"

// Binds the controls of the "&Options" tab to the settings store and the
// connection mode. Each control saves the moment the operator changes it: a
// mode option saves all five flags and switches the running service over;
// the port and institution boxes on every change of text; the HL7 folder when
// its box loses the focus; the result limit only on Enter; the Study UID box
// on every click. Filling the controls from the store saves nothing. A port
// other than the one the service started with is marked as taking effect at
// the next start; a Study UID switch the mode's HIS cannot serve is warned of.
class OptionsBinding : public QObject {
    Q_OBJECT
public:
    using MessageSink = std::function<void(const QString&)>;

    OptionsBinding(const MainWindowUi& ui, ServerRuntime& runtime, MessageSink showMessage,
                   QObject* parent = nullptr);

    // The mode options, port, HL7 folder and institution name as restored.
    void ShowRestored();
    // The result limit and the Study UID switch as restored.
    void ShowPrepared();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Connect();
    void optMode_Click(ModeOptions::Option option);
    void txtPort_Change(const QString& text);
    void ShowPortNote();
    void txtInstName_Change(const QString& text);
    void txtHL7Folder_LostFocus();
    void txtResultNumber_Enter();
    void chkGenStudyUID_Click();
    template <typename Handler>
    void Trap(Handler&& handler);

    const MainWindowUi& m_ui;
    ServerRuntime& m_runtime;
    MessageSink m_showMessage;
};
