#!/bin/sh
# Creates the ORVELLINE demo HIS on a MariaDB (or MySQL) server: the database
# if it is missing, the worksheet table and fourteen orders for today, two of
# them already done. The arguments after the database name go to the mariadb
# client and say how to reach the server:
#   make-demo-orvelline.sh his --socket=/tmp/demo/sock --user=root
#   make-demo-orvelline.sh his --host=db.example --port=3306 --user=ris --password
# An existing worksheet table is never replaced: the script then stops with
# the server's error.
set -e
db="${1:?usage: make-demo-orvelline.sh DATABASE [mariadb client options]}"
shift
here="$(cd "$(dirname "$0")" && pwd)"
{
  echo "CREATE DATABASE IF NOT EXISTS \`$db\`; USE \`$db\`;"
  cat "$here/worksheet.sql"
  cat <<'SQL'
INSERT INTO worksheet
  (qnumber, patient_id, patient_lname, patient_fname, patient_mname, gender, birthdate,
   doctor_id, doctor_lname, doctor_fname, doctor_mname, modality, item_code, study_desc,
   Result, Status, TimeStamp, branch_code, remarks)
VALUES
  ('Q24001', '100231', 'PEÑA',      'JOSÉ',    'DELA CRUZ', 'M', '1958-03-14', 101, 'REYES',   'ANTONIO', 'LUNA', 'CR', 'XR001', 'CHEST PA',         '', 0, TIMESTAMP(CURDATE(), '07:05:00'), 'MAIN', ''),
  ('Q24002', '100245', 'SANTOS',    'MARIA',   NULL,        'F', '1990-11-02', 101, 'REYES',   'ANTONIO', 'LUNA', 'CR', 'XR002', 'CHEST PA AND LAT', '', 0, TIMESTAMP(CURDATE(), '07:12:00'), 'MAIN', ''),
  ('Q24003', '100302', 'O''BRIEN',  'SEAN',    'PATRICK',   'M', '1971-06-30', 102, 'GARCIA',  'ELENA',   NULL,   'CR', 'XR010', 'KNEE AP AND LAT',  '', 0, TIMESTAMP(CURDATE(), '07:20:00'), 'MAIN', ''),
  ('Q24004', '100318', 'MÜLLER',    'ANNA',    'LENA',      'F', '1985-01-19', 102, 'GARCIA',  'ELENA',   NULL,   'DX', 'XR020', 'LUMBAR SPINE',     '', 0, TIMESTAMP(CURDATE(), '07:31:00'), 'MAIN', ''),
  ('Q24005', '100322', 'GARCIA',    'LUIS',    'MIGUEL',    'M', '2001-09-09', 103, 'TAN',     'WEI',     'MING', 'CT', 'CT001', 'CT HEAD PLAIN',    '', 0, TIMESTAMP(CURDATE(), '07:44:00'), 'MAIN', ''),
  ('Q24006', '100340', 'NGUYEN',    'THI',     'HOA',       'F', '1966-12-25', 103, 'TAN',     'WEI',     'MING', 'CT', 'CT005', 'CT ABDOMEN',       '', 0, TIMESTAMP(CURDATE(), '08:03:00'), 'MAIN', ''),
  ('Q24007', '100351', 'IBÁÑEZ',    'NIÑO',    '',          'M', '2015-04-03', 104, 'MENDOZA', 'ROSARIO', NULL,   'US', 'US002', 'ULTRASOUND KUB',   '', 0, TIMESTAMP(CURDATE(), '08:10:00'), 'MAIN', ''),
  ('Q24008', '100366', 'REYES',     'CARMEN',  'LOPEZ',     'F', '1949-08-21', 104, 'MENDOZA', 'ROSARIO', NULL,   'US', 'US001', 'ULTRASOUND WHOLE ABDOMEN', '', 0, TIMESTAMP(CURDATE(), '08:25:00'), 'MAIN', ''),
  ('Q24009', '100371', 'KOWALSKI',  'PIOTR',   NULL,        'M', '1977-02-11', 101, 'REYES',   'ANTONIO', 'LUNA', 'MR', 'MR003', 'MRI BRAIN',        '', 0, TIMESTAMP(CURDATE(), '09:02:00'), 'MAIN', ''),
  ('Q24010', '100389', 'DUBOIS',    'CÉLINE',  'MARIE',     'F', '1993-07-07', 105, 'OKAFOR',  'CHIDI',   NULL,   'MG', 'MG001', 'MAMMOGRAPHY BILATERAL', '', 0, TIMESTAMP(CURDATE(), '09:16:00'), 'MAIN', ''),
  ('Q24011', '100390', 'TAN',       'WEI',     'MING',      'M', '1982-05-16', 102, 'GARCIA',  'ELENA',   NULL,   'CR', 'XR030', 'HAND AP AND OBLIQUE', '', 0, TIMESTAMP(CURDATE(), '09:40:00'), 'NORTH', ''),
  ('Q24012', '100404', 'MENDOZA',   'ROSARIO', 'ANGELES',   'F', '1960-10-28', NULL, NULL,     NULL,      NULL,   'CR', 'XR001', 'CHEST PA',         '', 0, TIMESTAMP(CURDATE(), '10:05:00'), 'NORTH', 'walk-in, no referring doctor yet'),
  ('Q24013', '100101', 'DONE',      'ALREADY', 'EXAMINED',  'M', '1950-05-05', 101, 'REYES',   'ANTONIO', 'LUNA', 'CR', 'XR001', 'CHEST PA',         'normal', 1, TIMESTAMP(CURDATE(), '06:30:00'), 'MAIN', ''),
  ('Q24014', '100102', 'DONE',      'ALSO',    NULL,        'F', '1951-06-06', 103, 'TAN',     'WEI',     'MING', 'CT', 'CT001', 'CT HEAD PLAIN',    'normal', 1, TIMESTAMP(CURDATE(), '06:45:00'), 'MAIN', '');
SQL
} | mariadb "$@" --default-character-set=utf8mb4
echo "demo worksheet written to database $db"
