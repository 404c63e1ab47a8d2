// The selection of the METADATA table (TWXSelect): its text from the link's properties and
// the caller's keys, the server's clock for a time-stamp window, and the key values bound.
#include <string>
#include <vector>

#include "connection.h"
#include "sql_text.h"
#include "twx_props.h"

namespace oracle {
namespace {

// The names of a text-list property in format.
uint32_t ListNames(const TWStream& list, uint32_t format, std::vector<std::string>& names) {
  if (list.data == nullptr || list.length == 0) return TWSUCCESS;
  const uint32_t count = TWTextListGetCount(&list);
  for (uint32_t i = 1; i <= count; ++i) {
    flowcore::StreamData name;
    if (uint32_t st = TWTextListFetch(&list, i, format, name.get(), nullptr, nullptr)) return st;
    names.emplace_back(name.view());
  }
  return TWSUCCESS;
}

DateParts PartsOf(const TWDatetimeParts& p) {
  return DateParts{static_cast<uint32_t>(p.year),   static_cast<uint32_t>(p.month),
                   static_cast<uint32_t>(p.day),    static_cast<uint32_t>(p.hour),
                   static_cast<uint32_t>(p.minute), static_cast<uint32_t>(p.second)};
}

}  // namespace

uint32_t Connection::Select(TWFIELDLIST keys, uint32_t recordIndex, TWFIELDLIST dest,
                            uint32_t* affected) {
  if (!connected_) return TWFAIL_INVALID_CONNECT;
  EndResultSet();
  const uint32_t format = static_cast<uint32_t>(props.textFormat);
  SelectParts p;
  if (uint32_t st = ListNames(props.fieldList, format, p.fieldList)) return st;
  if (uint32_t st = ListNames(props.orderList, format, p.orderList)) return st;
  p.writeback = props.writeBack != 0;
  uint32_t rowidPosition = 0;
  if (p.writeback) {
    if (p.fieldList.empty()) {
      if (uint32_t st = DescribeTable(selection_, TWNULLHANDLE, true)) return st;
      const uint32_t n = TWFieldlistGetCount(selection_.description->fields.get());
      for (uint32_t i = 1; i <= n; ++i) {
        flowcore::StreamData name;
        if (uint32_t st =
                TWFieldlistGetName(selection_.description->fields.get(), i, format, name.get()))
          return st;
        p.describedColumns.emplace_back(name.view());
      }
      selection_.description.reset();
    }
    rowidPosition = static_cast<uint32_t>(
        (p.fieldList.empty() ? p.describedColumns.size() : p.fieldList.size()) + 1);
  }
  if (props.metadata.length == 0) return LogMissingMetadata();
  const std::string table = TextOf(props.metadata), condition = TextOf(props.condition),
                    stampField = TextOf(props.stampField);
  p.table = table;
  p.condition = condition;
  p.stampField = stampField;

  if (!stampField.empty()) {
    // The window ends a second before the server's clock, so that rows stamped in this
    // second are taken by the next run.
    unsigned char now[7] = {};
    OraCursor& cursor = selection_.cursor;
    if (OraParse(&cursor, "SELECT SYSDATE FROM DUAL", -1, 0, 1) != 0 ||
        OraDefine(&cursor, 1, now, 7, ORA_DATE, -1, nullptr, nullptr, -1, -1, nullptr, nullptr) !=
            0 ||
        OraExecute(&cursor) != 0 || OraFetch(&cursor) != 0)
      return cursor.rc == ORA_RC_NO_TABLE ? LogMissingMetadata() : LogError(cursor.rc);
    TWDatetime max{};
    TWDatetimeParts back{}, parts{};
    back.second = -1;
    if (uint32_t st = DatetimeOfDate(now, &max)) return TWActivityLog(st);
    if (uint32_t st = TWDatetimeAdjust(&max, &back)) return TWActivityLog(st);
    props.maxStamp = max;
    if (uint32_t st = TWDatetimeGetParts(&max, TWPARTSF_LOCAL, &parts)) return TWActivityLog(st);
    p.maxStamp = PartsOf(parts);
    TWDatetimeParts base{};
    if (TWDatetimeGetParts(&props.baseStamp, TWPARTSF_LOCAL | TWPARTSF_NULL_MIN, &base) ==
            TWSUCCESS &&
        base.year > 1) {
      p.hasBaseStamp = true;
      p.baseStamp = PartsOf(base);
    }
  }
  if (keys != TWNULLHANDLE) {
    uint32_t st = tw::twx::ForEachKeyTerm(
        keys, format,
        [&](TWFIELD, uint32_t index, const TWStream& name, std::string_view op) -> uint32_t {
          p.keys.push_back(KeyTerm{TextOf(name), op, index});
          return TWSUCCESS;
        });
    if (st != TWSUCCESS) return st;
  }

  const std::string text = SelectText(p);
  OraCursor& cursor = selection_.cursor;
  if (OraParse(&cursor, text.c_str(), -1, 0, 1) != 0)
    return cursor.rc == ORA_RC_NO_TABLE ? LogMissingMetadata() : LogError(cursor.rc);
  queryState_ = 1;
  uint32_t st = DescribeParsed(selection_, nextGeneration++, dest, rowidPosition);
  if (st == TWSUCCESS && p.writeback) {
    selection_.description->writeback = true;
    selection_.description->table = table;
    rowidPosition_ = rowidPosition;
    // The server would commit each statement and so end the FOR UPDATE cursor: the
    // commits wait for the end of this selection.
    if (props.commitFrequency == 1) {
      if (OraAutocommitOff(&lda_) != 0)
        st = LogError(lda_.rc);
      else
        autocommitHeld_ = true;
    }
  }
  if (st == TWSUCCESS && !p.keys.empty()) st = ExecuteSelectionKeys(keys, recordIndex);
  if (st != TWSUCCESS) {
    EndResultSet();
    return st;
  }
  *affected = TWCOUNT_UNKNOWN;
  return TWSUCCESS;
}

}  // namespace oracle
