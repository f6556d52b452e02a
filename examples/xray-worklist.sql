-- The CORVANTE worklist table: one row per x-ray order, flagged done once
-- examined and invalid once withdrawn.
CREATE TABLE xray_worklist (
  worklistid  INTEGER PRIMARY KEY,
  created     TEXT NOT NULL,
  patientid   TEXT NOT NULL,
  last_name   TEXT,
  first_name  TEXT,
  middle_name TEXT,
  birthdate   TEXT,
  gender      TEXT,
  is_done     INTEGER NOT NULL DEFAULT 0,
  is_valid    INTEGER NOT NULL DEFAULT 1
);
