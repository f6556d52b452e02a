#pragma once

#include "platform/dicom/DicomTag.h"

// The attributes of a performed procedure step the server reads.
namespace StepTags {
constexpr Tag SpecificCharacterSet{0x0008, 0x0005};
constexpr Tag AccessionNumber{0x0008, 0x0050};
constexpr Tag PatientName{0x0010, 0x0010};
constexpr Tag PatientId{0x0010, 0x0020};
constexpr Tag StudyInstanceUid{0x0020, 0x000D};
constexpr Tag ScheduledProcedureStepId{0x0040, 0x0009};
constexpr Tag PerformedStationAeTitle{0x0040, 0x0241};
constexpr Tag StartDate{0x0040, 0x0244};
constexpr Tag StartTime{0x0040, 0x0245};
constexpr Tag EndDate{0x0040, 0x0250};
constexpr Tag EndTime{0x0040, 0x0251};
constexpr Tag Status{0x0040, 0x0252};
constexpr Tag PerformedProcedureStepId{0x0040, 0x0253};
constexpr Tag ScheduledStepAttributes{0x0040, 0x0270};
constexpr Tag RequestedProcedureId{0x0040, 0x1001};
}  // namespace StepTags
