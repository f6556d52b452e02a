#pragma once

#include "platform/dicom/DicomTag.h"
#include "worklist/Tags.h"

// The attributes of a performed procedure step the server reads.
namespace StepTags {
using Tags::AccessionNumber;
using Tags::PatientId;
using Tags::PatientName;
using Tags::RequestedProcedureId;
using Tags::SpecificCharacterSet;
using Tags::StudyInstanceUid;
constexpr Tag ScheduledProcedureStepId{0x0040, 0x0009};
constexpr Tag PerformedStationAeTitle{0x0040, 0x0241};
constexpr Tag StartDate{0x0040, 0x0244};
constexpr Tag StartTime{0x0040, 0x0245};
constexpr Tag EndDate{0x0040, 0x0250};
constexpr Tag EndTime{0x0040, 0x0251};
constexpr Tag Status{0x0040, 0x0252};
constexpr Tag PerformedProcedureStepId{0x0040, 0x0253};
constexpr Tag ScheduledStepAttributes{0x0040, 0x0270};
}  // namespace StepTags
