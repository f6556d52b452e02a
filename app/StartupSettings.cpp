#include "app/StartupSettings.h"

#include <limits>

void StartupSettings::LoadEarly(SettingsStore& store) {
    const QString pacs = QStringLiteral("PACS");
    const QString main = QStringLiteral("Main");
    portText = NormalisePort(store.Read(pacs, main, QStringLiteral("WorklistPort"), "105"));
    store.Write(pacs, main, QStringLiteral("WorklistPort"), portText);
    hl7Folder = store.Read(pacs, main, QStringLiteral("txtHL7Folder"), QString());
    institutionName =
        store.Read(pacs, QStringLiteral("Worklist"), QStringLiteral("txtInstName"), QString());
    store.Write(pacs, QStringLiteral("Worklist"), QStringLiteral("txtInstName"), institutionName);
    const QString timeout = store.Read(pacs, QStringLiteral("Database"),
                                       QStringLiteral("QueryTimeoutSeconds"), QString());
    queryTimeoutSeconds = timeout.trimmed().toInt();
}

void StartupSettings::LoadLate(const SettingsStore& store) {
    resultNumber = store.Read(QStringLiteral("Modality WorkList"), QStringLiteral("Settings"),
                              QStringLiteral("ResultQueryNumber"), QStringLiteral("300"));
    generateStudyUid =
        store.Read(QStringLiteral("Modality Worklist"), QStringLiteral("Setting"),
                   QStringLiteral("EnableStudyUIDGeneration"), QStringLiteral("0")) == "1";
}

QString StartupSettings::NormalisePort(const QString& stored) {
    const QString text = stored.trimmed();
    qint64 value = 0;
    for (const QChar c : text) {
        if (!c.isDigit() || c.unicode() > 127) break;
        value = value * 10 + c.digitValue();
        if (value > std::numeric_limits<qint32>::max()) break;
    }
    return QString::number(value);
}
