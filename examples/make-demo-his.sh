#!/bin/sh
# Creates the demo hospital information system: a SQLite database holding the
# x-ray worklist table with about twenty open orders, one done and one
# withdrawn. Usage: make-demo-his.sh DATABASE-FILE
set -e
db="${1:?usage: make-demo-his.sh DATABASE-FILE}"
rm -f "$db"
here="$(cd "$(dirname "$0")" && pwd)"
sqlite3 "$db" < "$here/xray-worklist.sql"
sqlite3 "$db" <<'SQL'
INSERT INTO xray_worklist
  (worklistid, created, patientid, last_name, first_name, middle_name, birthdate, gender, is_done, is_valid)
VALUES
  (24001, '2026-12-08 07:05:00', '100231', 'PEÑA',       'JOSÉ',      'DELA CRUZ', '1958-03-14', 'M', 0, 1),
  (24002, '2026-12-08 07:12:00', '100245', 'SANTOS',     'MARIA',     NULL,        '1990-11-02', 'F', 0, 1),
  (24003, '2026-12-08 07:20:00', '100302', 'O''BRIEN',   'SEAN',      'PATRICK',   '1971-06-30', 'M', 0, 1),
  (24004, '2026-12-08 07:31:00', '100318', 'MÜLLER',     'ANNA',      'LENA',      '1985-01-19', 'F', 0, 1),
  (24005, '2026-12-08 07:44:00', '100322', 'GARCIA',     'LUIS',      'MIGUEL',    '2001-09-09', 'M', 0, 1),
  (24006, '2026-12-08 07:52:00', '100340', 'NGUYEN',     'THI',       'HOA',       '1966-12-25', 'F', 0, 1),
  (24007, '2026-12-08 08:03:00', '100351', 'IBÁÑEZ',     'NIÑO',      '',          '2015-04-03', 'M', 0, 1),
  (24008, '2026-12-08 08:10:00', '100366', 'REYES',      'CARMEN',    'LOPEZ',     '1949-08-21', 'F', 0, 1),
  (24009, '2026-12-08 08:18:00', '100371', 'KOWALSKI',   'PIOTR',     NULL,        '1977-02-11', 'M', 0, 1),
  (24010, '2026-12-08 08:25:00', '100389', 'DUBOIS',     'CÉLINE',    'MARIE',     '1993-07-07', 'F', 0, 1),
  (24011, '2026-12-08 08:33:00', '100390', 'TAN',        'WEI',       'MING',      '1982-05-16', 'M', 0, 1),
  (24012, '2026-12-08 08:41:00', '100404', 'MENDOZA',    'ROSARIO',   'ANGELES',   '1960-10-28', 'F', 0, 1),
  (24013, '2026-12-08 08:47:00', '100415', 'ANDERSSON',  'ERIK',      'JOHAN',     '1955-03-03', 'M', 0, 1),
  (24014, '2026-12-08 08:55:00', '100427', 'CASTILLO',   'ANA',       'MARÍA',     '1999-12-31', 'F', 0, 1),
  (24015, '2026-12-08 09:02:00', '100433', 'OKAFOR',     'CHIDI',     'EMEKA',     '1988-04-22', 'M', 0, 1),
  (24016, '2026-12-08 09:10:00', '100448', 'ROSSI',      'GIULIA',    NULL,        '1972-09-15', 'F', 0, 1),
  (24017, '2026-12-08 09:16:00', '100452', 'VILLANUEVA', 'RAMÓN',     'SEÑOR',     '1940-01-08', 'M', 0, 1),
  (24018, '2026-12-08 09:25:00', '100469', 'SILVA',      'BEATRIZ',   'COSTA',     '2010-06-18', 'F', 0, 1),
  (24019, '2026-12-08 09:31:00', '100471', 'HASSAN',     'OMAR',      'ALI',       '1969-11-11', 'M', 0, 1),
  (24020, '2026-12-08 09:40:00', '100486', 'FERNÁNDEZ',  'LUCÍA',     'ISABEL',    '1996-02-29', 'F', 0, 1),
  (24021, '2026-12-08 06:30:00', '100101', 'DONE',       'ALREADY',   'EXAMINED',  '1950-05-05', 'M', 1, 1),
  (24022, '2026-12-08 06:45:00', '100102', 'WITHDRAWN',  'ORDER',     'CANCELLED', '1951-06-06', 'F', 0, 0);
SQL
echo "demo HIS written to $db"
