/* XandbCLI: the Xandb client library as the Xandb connector calls it. Every call is found by
 * its ODBC function number and forwarded to unixODBC with ODBC's own widths (pointer-sized
 * handles, SQLLEN/SQLULEN); number 200 is SQLDataSources. DATABASE is a data source name.
 *
 * On top of forwarding, for the engine behind the data source (SQLite or PostgreSQL, by the
 * driver's DBMS name):
 *   - statement texts of SQLPrepare and SQLExecDirect are rewritten from the Xandb dialect;
 *   - positioned writes: a FOR UPDATE select keeps its row identity at each fetch (a hidden
 *     last column) and "WHERE CURRENT OF name" compares with it; cursor names and
 *     SQL_CONCURRENCY are served by the library (the default cursor name is long, as the
 *     drivers' are);
 *   - XandbCODEPAGE names the client's code page: texts, SQL_C_CHAR parameters and SQL_C_CHAR
 *     results are converted between it and the engines' UTF-8 (read at SQLConnect);
 *   - connection option 101 is the client's no-journal switch: kept and read back, never
 *     forwarded as ODBC's access mode, which a driver may honour by refusing every write;
 *   - a driver without parameter arrays is given the rows one by one, rows done counted.
 * Settings (environment, read at each call unless noted):
 *   XANDBCLI_RECORD               a file to which each text is appended as the caller passed
 *                                 it, one line per text, before rewriting;
 *   XANDBCLI_DBMS_NAME            served as SQLGetInfo 17 instead of the driver's;
 *   XANDBCLI_MAX_COLUMN_NAME_LEN  served as SQLGetInfo 30 (16-bit);
 *   XANDBCLI_TYPE_INFO            "DATA_TYPE:PRECISION:SEARCHABLE,..." served as the rows of
 *                                 SQLGetTypeInfo (SQL_ALL_TYPES) instead of the driver's;
 *   XANDBCLI_PARAMETER_ARRAYS     "0": act as for a driver without parameter arrays;
 *   XANDBCLI_NO_TOTAL             "1": a length probe of a character or binary value answers
 *                                 SQL_NO_TOTAL, as a driver may.
 * Thread rules are unixODBC's; the library's own records are guarded by one mutex. */
#ifndef TW_OUTSIDE_XANDBCLI_XANDBCLI_H_
#define TW_OUTSIDE_XANDBCLI_XANDBCLI_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*XandbCLIFunction)(void);

/* The function of ODBC number `number`, to be cast to its ODBC signature; null for a number
 * the library does not serve. */
XandbCLIFunction XandbCLIGetFunction(uint16_t number);

/* The number XandbCLIGetFunction takes for SQLDataSources. */
#define XANDBCLI_DATA_SOURCES 200

/* Connection option 101: the no-journal switch (0 or 1). */
#define XANDBCLI_NO_JOURNAL 101

#ifdef __cplusplus
}
#endif

#endif /* TW_OUTSIDE_XANDBCLI_XANDBCLI_H_ */
