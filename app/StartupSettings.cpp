#include "app/StartupSettings.h"

#include <limits>

namespace {

struct Key {
    const char* application;
    const char* section;
    const char* key;

    QString Read(const SettingsStore& store, const QString& fallback) const {
        return store.Read(QString::fromLatin1(application), QString::fromLatin1(section),
                          QString::fromLatin1(key), fallback);
    }
    void Write(SettingsStore& store, const QString& value) const {
        store.Write(QString::fromLatin1(application), QString::fromLatin1(section),
                    QString::fromLatin1(key), value);
    }
};

// The two worklist application names differ in one letter's case and are
// both in use, as are their section names.
constexpr Key kPort{"PACS", "Main", "WorklistPort"};
constexpr Key kHl7Folder{"PACS", "Main", "txtHL7Folder"};
constexpr Key kInstitution{"PACS", "Worklist", "txtInstName"};
constexpr Key kResultNumber{"Modality WorkList", "Settings", "ResultQueryNumber"};
constexpr Key kStudyUid{"Modality Worklist", "Setting", "EnableStudyUIDGeneration"};
constexpr Key kQueryTimeout{"PACS", "Database", "QueryTimeoutSeconds"};
constexpr Key kQueryWorkers{"PACS", "Database", "QueryWorkers"};

}  // namespace

void StartupSettings::LoadEarly(SettingsStore& store) {
    portWritten = kPort.Read(store, QStringLiteral("105"));
    portText = NormalisePort(portWritten);
    SavePort(store, portText);
    hl7Folder = kHl7Folder.Read(store, QString());
    institutionName = kInstitution.Read(store, QString());
    SaveInstitutionName(store, institutionName);
    queryTimeoutSeconds = kQueryTimeout.Read(store, QString()).trimmed().toInt();
    LoadQueryWorkers(store);
}

void StartupSettings::LoadQueryWorkers(const SettingsStore& store) {
    problems.clear();
    queryWorkers = kDefaultQueryWorkers;
    const QString text = kQueryWorkers.Read(store, QString()).trimmed();
    if (text.isEmpty()) return;
    bool ok = false;
    const int value = text.toInt(&ok);
    if (ok && value >= 1 && value <= kMaxQueryWorkers) {
        queryWorkers = value;
        return;
    }
    problems << QStringLiteral(
                    "Database setting QueryWorkers=\"%1\" is not a number from 1 to %2; using %3.")
                    .arg(text)
                    .arg(kMaxQueryWorkers)
                    .arg(kDefaultQueryWorkers);
}

QStringList StartupSettings::LoadLate(SettingsStore& store) {
    QStringList late;
    const QString fallback = QLatin1String(kDefaultResultNumber);
    resultNumber = kResultNumber.Read(store, fallback);
    if (!IsResultNumber(resultNumber.trimmed())) {
        late << QStringLiteral("Settings: ResultQueryNumber \"%1\" is not a number from 0 to "
                               "999999999; using %2 instead (query number box).")
                    .arg(resultNumber, fallback);
        resultNumber = fallback;
        SaveResultNumber(store, resultNumber);
    }
    generateStudyUid = kStudyUid.Read(store, QStringLiteral("0")) == QLatin1String("1");
    return late;
}

QRegularExpression StartupSettings::ResultNumberRule() {
    return QRegularExpression(QStringLiteral("[0-9]{1,9}"));
}

bool StartupSettings::IsResultNumber(const QString& text) {
    const QRegularExpression whole(QRegularExpression::anchoredPattern(ResultNumberRule().pattern()));
    return whole.match(text).hasMatch();
}

void StartupSettings::SavePort(SettingsStore& store, const QString& text) {
    kPort.Write(store, text);
}

void StartupSettings::SaveHl7Folder(SettingsStore& store, const QString& text) {
    kHl7Folder.Write(store, text);
}

void StartupSettings::SaveInstitutionName(SettingsStore& store, const QString& text) {
    kInstitution.Write(store, text);
}

void StartupSettings::SaveResultNumber(SettingsStore& store, const QString& text) {
    kResultNumber.Write(store, text.trimmed());
}

void StartupSettings::SaveGenerateStudyUid(SettingsStore& store, bool on) {
    kStudyUid.Write(store, on ? QStringLiteral("1") : QStringLiteral("0"));
}

QStringList StartupSettings::Applications() {
    QStringList applications;
    for (const Key& key : {kPort, kResultNumber, kStudyUid})
        applications << QString::fromLatin1(key.application);
    return applications;
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
