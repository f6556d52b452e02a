#include "platform/settings/QtSettingsStore.h"

namespace {
QString KeyPath(const QString& section, const QString& key) {
    return section + QLatin1Char('/') + key;
}
}  // namespace

QSettings& QtSettingsStore::For(const QString& application) const {
    auto& slot = m_stores[application];
    if (!slot)
        slot = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                           QStringLiteral("TALVEK"), application);
    return *slot;
}

QString QtSettingsStore::Read(const QString& application, const QString& section,
                              const QString& key, const QString& fallback) const {
    const QVariant value = For(application).value(KeyPath(section, key), fallback);
    // A value written by hand with commas and no quotes reads back as a list
    // of its pieces; it is still one text (an address list, a name).
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

void QtSettingsStore::Write(const QString& application, const QString& section,
                            const QString& key, const QString& value) {
    QSettings& store = For(application);
    store.setValue(KeyPath(section, key), value);
    store.sync();
}
