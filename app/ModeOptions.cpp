#include "app/ModeOptions.h"


namespace {
const QString kPacs = QStringLiteral("PACS");
const QString kMain = QStringLiteral("Main");
}  // namespace

QString ModeOptions::Key(Option option) {
    static const std::array<QString, Count> keys = {
        QStringLiteral("optTALVEK"), QStringLiteral("optPELTA"), QStringLiteral("optCorvante"),
        QStringLiteral("optBramwoods"), QStringLiteral("optOrvelline")};
    return keys[option];
}

// The options are in the order of the modes.
::ConnectionMode ModeOptions::Mode(Option option) { return static_cast<::ConnectionMode>(option); }

void ModeOptions::Load() {
    for (int i = 0; i < Count; ++i) {
        const auto option = static_cast<Option>(i);
        const QString fallback = option == Talvek ? QStringLiteral("True") : QStringLiteral("False");
        if (m_store.Read(kPacs, kMain, Key(option), fallback) == QLatin1String("True"))
            Click(option);
    }
}

void ModeOptions::Click(Option option) {
    m_selected.fill(false);
    m_selected[option] = true;
    SaveModeOptions();
    SetConnectionMode();
}

void ModeOptions::SaveModeOptions() {
    for (int i = 0; i < Count; ++i)
        m_store.Write(kPacs, kMain, Key(static_cast<Option>(i)),
                      m_selected[i] ? QStringLiteral("True") : QStringLiteral("False"));
}

void ModeOptions::SetConnectionMode() {
    for (int i = 0; i < Count; ++i)
        if (m_selected[i]) {
            m_mode = Mode(static_cast<Option>(i));
            return;
        }
}
