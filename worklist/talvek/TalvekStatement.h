#pragma once

#include <QString>

// The TALVEK order statement for one modality: the department's request
// table joined to the patient master, the doctor and the exam codes, open
// requests only, narrowed by the conditions text. Ultrasound also lists the
// obstetric and heart-examination requests. An unknown modality leaves no
// SELECT, which the database then rejects.
QString MakeSQL(const QString& Modality, const QString& WhereStr);
