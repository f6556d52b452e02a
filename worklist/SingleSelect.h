#pragma once

#include <QString>

// True when the text is one SELECT statement that only reads: it starts with
// SELECT, nothing but blanks and comments follows a ";", and no word outside
// strings, quoted names and comments writes data, changes the schema or runs
// code (SELECT ... INTO creates a table, and SQL Server runs a second
// statement even without a ";"). Strings and comments are read both the SQL
// Server way and the MySQL way (backslash escapes, "#" comments, "/*!"
// code); the text must pass both readings. Unterminated strings or comments
// fail.
bool IsSingleSelect(const QString& sql);
