#include "platform/settings/QtSettingsStore.h"

#include <QFileInfo>

namespace {

QString KeyPath(const QString& section, const QString& key) {
    return section + QLatin1Char('/') + key;
}

std::optional<QString> ProblemOf(const QSettings& settings) {
    switch (settings.status()) {
        case QSettings::NoError:
            return std::nullopt;
        case QSettings::FormatError:
            return QStringLiteral("it is not in the settings file format");
        case QSettings::AccessError:
            break;
    }
    const QFileInfo file(settings.fileName());
    if (file.isDir()) return QStringLiteral("it is a directory");
    if (!file.isReadable()) return QStringLiteral("permission denied");
    return QStringLiteral("it cannot be opened");
}

}  // namespace

QtSettingsStore::Store& QtSettingsStore::For(const QString& application) const {
    Store& slot = m_stores[application];
    if (!slot.settings) {
        slot.settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                    QStringLiteral("TALVEK"), application);
        // The file is read when first asked; its status tells only after that.
        slot.settings->allKeys();
        slot.problem = ProblemOf(*slot.settings);
    }
    return slot;
}

QString QtSettingsStore::Read(const QString& application, const QString& section,
                              const QString& key, const QString& fallback) const {
    const Store& store = For(application);
    const QString path = KeyPath(section, key);
    if (const auto unsaved = store.unsaved.find(path); unsaved != store.unsaved.end())
        return unsaved->second;
    const QVariant value = store.settings->value(path, fallback);
    // A value written by hand with commas and no quotes reads back as a list
    // of its pieces; it is still one text (an address list, a name).
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

void QtSettingsStore::Write(const QString& application, const QString& section,
                            const QString& key, const QString& value) {
    Store& store = For(application);
    if (store.problem) {
        store.unsaved[KeyPath(section, key)] = value;
        return;
    }
    store.settings->setValue(KeyPath(section, key), value);
    store.settings->sync();
}

QString QtSettingsStore::Location(const QString& application) const {
    return For(application).settings->fileName();
}

std::optional<QString> QtSettingsStore::Problem(const QString& application) const {
    return For(application).problem;
}
