#pragma once

// The SQL dialect a HIS connection speaks, found from its ODBC driver: SQL
// Server (FreeTDS and Microsoft's drivers, the TALVEK and PELTA servers),
// MySQL or MariaDB (the ORVELLINE server) and SQLite (the embedded database).
enum class SqlDialect { SqlServer, MySql, Sqlite };
