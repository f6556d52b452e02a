#pragma once

#include "platform/dicom/DicomTag.h"

// The attributes the worklist service reads and writes.
namespace Tags {
constexpr Tag SpecificCharacterSet{0x0008, 0x0005};
constexpr Tag StudyDate{0x0008, 0x0020};
constexpr Tag StudyTime{0x0008, 0x0030};
constexpr Tag AccessionNumber{0x0008, 0x0050};
constexpr Tag Modality{0x0008, 0x0060};
constexpr Tag InstitutionName{0x0008, 0x0080};
constexpr Tag ReferringPhysicianName{0x0008, 0x0090};
constexpr Tag StudyDescription{0x0008, 0x1030};
constexpr Tag SeriesDescription{0x0008, 0x103E};
constexpr Tag ReferencedStudySequence{0x0008, 0x1110};
constexpr Tag PatientName{0x0010, 0x0010};
constexpr Tag PatientId{0x0010, 0x0020};
constexpr Tag PatientBirthDate{0x0010, 0x0030};
constexpr Tag PatientSex{0x0010, 0x0040};
constexpr Tag OtherPatientIds{0x0010, 0x1000};
constexpr Tag PatientWeight{0x0010, 0x1030};
constexpr Tag PatientAddress{0x0010, 0x1040};
constexpr Tag StudyInstanceUid{0x0020, 0x000D};
constexpr Tag RequestingPhysician{0x0032, 0x1032};
constexpr Tag RequestedProcedureDescription{0x0032, 0x1060};
constexpr Tag AdmissionId{0x0038, 0x0010};
constexpr Tag CurrentPatientLocation{0x0038, 0x0300};
constexpr Tag ScheduledStationAeTitle{0x0040, 0x0001};
constexpr Tag StepStartDate{0x0040, 0x0002};
constexpr Tag StepStartTime{0x0040, 0x0003};
constexpr Tag StepId{0x0040, 0x0009};
constexpr Tag StepSequence{0x0040, 0x0100};
constexpr Tag RequestedProcedureId{0x0040, 0x1001};
constexpr Tag RequestedProcedurePriority{0x0040, 0x1003};
constexpr Tag PatientTransportArrangements{0x0040, 0x1004};
constexpr Tag ConfidentialityConstraint{0x0040, 0x3001};
}  // namespace Tags
