#include "worklist/WorklistSource.h"

#include "worklist/Tags.h"

TextEncoding RequestKeys::Encoding() const {
    return request.DeclaredUtf8() ? TextEncoding::Utf8 : TextEncoding::Latin1;
}

QString RequestKeys::StepLiteral(Tag tag) const {
    const QString value = requestStep.Item(tag).Text().trimmed();
    const bool pattern = value.contains(QLatin1Char('*')) || value.contains(QLatin1Char('?')) ||
                         value.contains(QLatin1Char('\\'));
    return pattern ? QString() : value;
}

QString WorklistSource::StepModality(const RequestKeys& keys, const Recordset&) const {
    const QString named = keys.StepLiteral(Tags::Modality).toUpper();
    return named.isEmpty() ? QStringLiteral("CR") : named;
}

bool WorklistSource::StopEarly(QueryRun& run) {
    run.log.Log(QStringLiteral(
        "Stopped early: the modality cancelled the query or no longer takes answers."));
    run.connection.NoteFailure(FailureKind::QueryAbandoned);
    return false;
}
