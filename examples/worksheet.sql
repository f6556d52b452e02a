-- The ORVELLINE order table (MariaDB or MySQL): one row per requested
-- examination, status 0 while it waits for the modality.
CREATE TABLE worksheet (
  qnumber       VARCHAR(32)  NOT NULL PRIMARY KEY,
  patient_id    VARCHAR(32)  NOT NULL,
  patient_lname VARCHAR(64),
  patient_fname VARCHAR(64),
  patient_mname VARCHAR(64),
  gender        CHAR(1),
  birthdate     DATE,
  doctor_id     INT,
  doctor_lname  VARCHAR(64),
  doctor_fname  VARCHAR(64),
  doctor_mname  VARCHAR(64),
  modality      VARCHAR(16),
  item_code     VARCHAR(32),
  study_desc    VARCHAR(128),
  Result        TEXT,
  Status        INT          NOT NULL DEFAULT 0,
  TimeStamp     DATETIME     NOT NULL,
  branch_code   VARCHAR(32),
  remarks       TEXT
) DEFAULT CHARSET = utf8mb4;
