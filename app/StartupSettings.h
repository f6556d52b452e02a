#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include "platform/settings/SettingsStore.h"

// The settings the load sequence shows in the window besides the mode options,
// each as its box will hold it.
struct StartupSettings {
    QString portText;
    // The port as the settings hold it, before it was made a number: what
    // the log names when it is no port.
    QString portWritten;
    QString hl7Folder;
    QString institutionName;
    QString resultNumber;
    bool generateStudyUid = false;
    // The whole budget of one query's HIS work; 0 (absent or not a number)
    // leaves the HIS connection's default.
    int queryTimeoutSeconds = 0;
    // Queries answered at once, each with a HIS connection of its own.
    int queryWorkers = kDefaultQueryWorkers;
    // Lines for the activity log about values not used.
    QStringList problems;

    static constexpr int kDefaultQueryWorkers = 4;
    static constexpr const char* kDefaultResultNumber = "300";
    static constexpr int kMaxQueryWorkers = 64;

    // Port, HL7 folder, institution name and the HIS query time-out; the port
    // is stored back normalised and the institution name stored again, as
    // their boxes do.
    void LoadEarly(SettingsStore& store);
    // Result limit and the Study UID switch. A stored result limit that is
    // not a number is replaced by the default, in the store as well; the
    // lines for the log that say so are returned.
    QStringList LoadLate(SettingsStore& store);
    void LoadQueryWorkers(const SettingsStore& store);

    // What the bound boxes save when the operator changes them. The result
    // limit is stored without leading and trailing blanks.
    static void SavePort(SettingsStore& store, const QString& text);
    static void SaveHl7Folder(SettingsStore& store, const QString& text);
    static void SaveInstitutionName(SettingsStore& store, const QString& text);
    static void SaveResultNumber(SettingsStore& store, const QString& text);
    static void SaveGenerateStudyUid(SettingsStore& store, bool on);

    // The result limit box's rule: digits only, at most nine of them.
    static QRegularExpression ResultNumberRule();
    static bool IsResultNumber(const QString& text);

    // The applications whose settings the program reads, the main one
    // ("PACS") first.
    static QStringList Applications();

    // The leading decimal number of the text ("0105x" gives "105"; no leading
    // number gives "0").
    static QString NormalisePort(const QString& stored);
};
