#include "app/CommandLine.h"

namespace {

bool TakeValue(const QStringList& arguments, qsizetype& i, const QString& name, QString& value,
               QString& error) {
    const QString& argument = arguments[i];
    if (argument.startsWith(name + QLatin1Char('='))) {
        value = argument.mid(name.size() + 1);
        return true;
    }
    if (argument != name) return false;
    if (i + 1 >= arguments.size()) {
        error = name + QStringLiteral(" needs a value");
        return true;
    }
    value = arguments[++i];
    return true;
}

}  // namespace

CommandLine CommandLine::Parse(const QStringList& arguments) {
    CommandLine line;
    for (qsizetype i = 1; i < arguments.size() && line.error.isEmpty(); ++i) {
        const QString& argument = arguments[i];
        QString value;
        if (argument == QLatin1String("--headless")) {
            line.headless = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.help = true;
        } else if (TakeValue(arguments, i, QStringLiteral("--home"), value, line.error)) {
            line.homeFolder = value;
        } else if (TakeValue(arguments, i, QStringLiteral("--delay"), value, line.error)) {
            bool ok = false;
            const int seconds = value.toInt(&ok);
            if (line.error.isEmpty() && (!ok || seconds < 0))
                line.error = QStringLiteral("--delay needs a number of seconds");
            line.delaySeconds = seconds;
        } else {
            line.error = QStringLiteral("unknown option: ") + argument;
        }
    }
    return line;
}

QString CommandLine::Usage() {
    return QStringLiteral(
        "Usage: talvek-mwl [--headless] [--home DIR] [--delay SECONDS]\n"
        "  --headless       serve without windows; the activity log goes to standard output\n"
        "  --home DIR       folder holding the connection-string files (default: the\n"
        "                   program's folder)\n"
        "  --delay SECONDS  start-up wait before the service starts (window only)\n");
}
