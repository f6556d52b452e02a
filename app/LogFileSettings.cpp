#include "app/LogFileSettings.h"

namespace {

const QString kApplication = QStringLiteral("PACS");
const QString kSection = QStringLiteral("Security");

// A positive whole number, or the default with a line saying so.
qint64 PositiveNumber(const SettingsStore& store, const QString& key, qint64 fallback,
                      QStringList& problems) {
    const QString text = store.Read(kApplication, kSection, key, QString()).trimmed();
    if (text.isEmpty()) return fallback;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (ok && value > 0) return value;
    problems << QStringLiteral("%1 '%2' is not a positive whole number; %3 is used.")
                    .arg(key, text)
                    .arg(fallback);
    return fallback;
}

}  // namespace

LogFileSettings LogFileSettings::Load(const SettingsStore& store) {
    LogFileSettings settings;
    settings.file.folder =
        store.Read(kApplication, kSection, QStringLiteral("LogFolder"), QString());
    settings.file.maxBytes = PositiveNumber(store, QStringLiteral("LogFileMaxBytes"),
                                            settings.file.maxBytes, settings.problems);
    settings.file.filesKept = static_cast<int>(
        std::min<qint64>(PositiveNumber(store, QStringLiteral("LogFilesKept"),
                                        settings.file.filesKept, settings.problems),
                         1000));
    return settings;
}
