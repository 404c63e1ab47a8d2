// Long parameter values for the connectors on a call-level interface: a value too long to be
// handed over whole in a bound buffer is bound as data at execution and sent in pieces once
// the statement asks for it, so that no driver's idea of a column's largest size (psqlODBC
// says 8190 for text) bounds what goes in.
//
// Thread rules: used by the one thread that uses the connection.
#ifndef TW_LINK_TWX_LONGDATA_H_
#define TW_LINK_TWX_LONGDATA_H_

#include <sql.h>
#include <sqlext.h>

#include <cstddef>

namespace twx {

// Values longer than this go as data at execution.
constexpr size_t kLongValue = 32700;
// The bytes of one piece sent.
constexpr size_t kPutPiece = 32768;

// A value bound as data at execution: its bytes, which must stay where they are until the
// statement has run. Its address is the token the driver hands back when it wants the value.
struct LongValue {
  const void* data = nullptr;
  size_t length = 0;
};

// The indicator and buffer to bind for value (length bytes at data): as data at execution
// when it is long (value then holds it and is the buffer bound), else as it is.
inline void BindLong(LongValue& value, const void* data, size_t length, SQLPOINTER* buffer,
                     SQLLEN* indicator) {
  value = {data, length};
  if (length <= kLongValue) {
    *buffer = const_cast<void*>(data);
    *indicator = static_cast<SQLLEN>(length);
    return;
  }
  *buffer = &value;
  *indicator = SQL_LEN_DATA_AT_EXEC(static_cast<SQLLEN>(length));
}

// Completes an execution that answered rc: while the driver needs data, the value whose token
// it names is sent in pieces. Answers the code of the execution's end (or of the first call
// that failed). paramData and putData are the interface's SQLParamData and SQLPutData.
template <class ParamData, class PutData>
SQLRETURN SendLongValues(SQLRETURN rc, SQLHSTMT stmt, ParamData paramData, PutData putData) {
  while (rc == SQL_NEED_DATA) {
    SQLPOINTER token = nullptr;
    rc = paramData(stmt, &token);
    if (rc != SQL_NEED_DATA) break;
    const auto* value = static_cast<const LongValue*>(token);
    const auto* bytes = static_cast<const unsigned char*>(value->data);
    size_t at = 0;
    do {
      const size_t n = value->length - at < kPutPiece ? value->length - at : kPutPiece;
      const SQLRETURN put =
          putData(stmt, const_cast<unsigned char*>(bytes + at), static_cast<SQLLEN>(n));
      if (put != SQL_SUCCESS && put != SQL_SUCCESS_WITH_INFO) return put;
      at += n;
    } while (at < value->length);
  }
  return rc;
}

}  // namespace twx

#endif  // TW_LINK_TWX_LONGDATA_H_
