// Binding the client library's calls by number (cli.h).
#include "cli.h"

#include <cstdint>

#include "xandbcli.h"

namespace xandb {
namespace {

template <typename F>
void Take(F*& slot, uint16_t number, bool& complete) {
  XandbCLIFunction f = XandbCLIGetFunction(number);
  if (f == nullptr) complete = false;
  slot = reinterpret_cast<F*>(f);
}

Cli Load() {
  Cli c{};
  bool all = true;
  Take(c.AllocEnv, SQL_API_SQLALLOCENV, all);
  Take(c.FreeEnv, SQL_API_SQLFREEENV, all);
  Take(c.AllocConnect, SQL_API_SQLALLOCCONNECT, all);
  Take(c.Connect, SQL_API_SQLCONNECT, all);
  Take(c.Disconnect, SQL_API_SQLDISCONNECT, all);
  Take(c.FreeConnect, SQL_API_SQLFREECONNECT, all);
  Take(c.SetConnectOption, SQL_API_SQLSETCONNECTOPTION, all);
  Take(c.GetInfo, SQL_API_SQLGETINFO, all);
  Take(c.AllocStmt, SQL_API_SQLALLOCSTMT, all);
  Take(c.FreeStmt, SQL_API_SQLFREESTMT, all);
  Take(c.SetStmtOption, SQL_API_SQLSETSTMTOPTION, all);
  Take(c.Transact, SQL_API_SQLTRANSACT, all);
  Take(c.Error, SQL_API_SQLERROR, all);
  Take(c.GetTypeInfo, SQL_API_SQLGETTYPEINFO, all);
  Take(c.Prepare, SQL_API_SQLPREPARE, all);
  Take(c.ExecDirect, SQL_API_SQLEXECDIRECT, all);
  Take(c.Execute, SQL_API_SQLEXECUTE, all);
  Take(c.NumResultCols, SQL_API_SQLNUMRESULTCOLS, all);
  Take(c.DescribeCol, SQL_API_SQLDESCRIBECOL, all);
  Take(c.SetCursorName, SQL_API_SQLSETCURSORNAME, all);
  Take(c.Fetch, SQL_API_SQLFETCH, all);
  Take(c.GetData, SQL_API_SQLGETDATA, all);
  Take(c.BindParameter, SQL_API_SQLBINDPARAMETER, all);
  Take(c.ParamOptions, SQL_API_SQLPARAMOPTIONS, all);
  Take(c.ParamData, SQL_API_SQLPARAMDATA, all);
  Take(c.PutData, SQL_API_SQLPUTDATA, all);
  Take(c.RowCount, SQL_API_SQLROWCOUNT, all);
  Take(c.Tables, SQL_API_SQLTABLES, all);
  Take(c.Columns, SQL_API_SQLCOLUMNS, all);
  Take(c.DataSources, XANDBCLI_DATA_SOURCES, all);
  c.complete = all;
  return c;
}

}  // namespace

const Cli& Api() {
  static const Cli cli = Load();
  return cli;
}

}  // namespace xandb
