// A small FreeTDS client-library session for tests against tds5d: runs language commands and
// dynamic statements and gives back every result's rows as texts and every message's number.
#ifndef TW_TESTS_TDS5D_TDS5D_CTLIB_H_
#define TW_TESTS_TDS5D_TDS5D_CTLIB_H_

#include <ctpublic.h>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace twtest {

struct CtMessage {
  int number = 0;
  int severity = 0;
  std::string text;
};

// One result of a command: its column names and rows (null is nullopt). Datetimes come as
// "yyyy-mm-dd hh:mm:ss.mmm", everything else as FreeTDS converts it to text.
struct CtResult {
  std::vector<std::string> names;
  std::vector<std::vector<std::optional<std::string>>> rows;
};

struct CtOutcome {
  bool ok = true;                 // no CS_CMD_FAIL and no failed call
  std::vector<CtResult> results;  // row results in order
  std::vector<int> counts;        // CS_ROW_COUNT of each CS_CMD_DONE that had one
  std::vector<int> messages;      // server and client message numbers, severity 10 too
};

class CtSession {
 public:
  CtSession() {
    if (cs_ctx_alloc(CS_VERSION_100, &ctx_) != CS_SUCCEED) ctx_ = nullptr;
    if (ctx_ && ct_init(ctx_, CS_VERSION_100) != CS_SUCCEED) Drop();
    if (ctx_) {
      ct_callback(ctx_, nullptr, CS_SET, CS_SERVERMSG_CB, reinterpret_cast<CS_VOID*>(&OnServer));
      ct_callback(ctx_, nullptr, CS_SET, CS_CLIENTMSG_CB, reinterpret_cast<CS_VOID*>(&OnClient));
    }
  }
  ~CtSession() {
    Close();
    Drop();
  }
  CtSession(const CtSession&) = delete;
  CtSession& operator=(const CtSession&) = delete;

  // Connects to a freetds.conf section; false with the messages kept on failure.
  bool Connect(const std::string& server, const std::string& user, const std::string& password,
               bool bulkLogin = false) {
    if (!ctx_ || ct_con_alloc(ctx_, &con_) != CS_SUCCEED) return false;
    CtSession* self = this;
    ct_con_props(con_, CS_SET, CS_USERDATA, &self, sizeof self, nullptr);
    ct_con_props(con_, CS_SET, CS_USERNAME, const_cast<char*>(user.c_str()), CS_NULLTERM, nullptr);
    ct_con_props(con_, CS_SET, CS_PASSWORD, const_cast<char*>(password.c_str()), CS_NULLTERM,
                 nullptr);
    CS_BOOL bulk = bulkLogin ? CS_TRUE : CS_FALSE;
    ct_con_props(con_, CS_SET, CS_BULK_LOGIN, &bulk, CS_UNUSED, nullptr);
    if (ct_connect(con_, const_cast<char*>(server.c_str()), CS_NULLTERM) != CS_SUCCEED) {
      ct_con_drop(con_);
      con_ = nullptr;
      return false;
    }
    return true;
  }

  void Close() {
    if (cmd_) ct_cmd_drop(cmd_);
    cmd_ = nullptr;
    if (con_) {
      ct_close(con_, CS_FORCE_CLOSE);
      ct_con_drop(con_);
    }
    con_ = nullptr;
  }

  CS_CONNECTION* connection() const { return con_; }
  CS_CONTEXT* context() const { return ctx_; }
  // Messages since the last Take (a connect's too).
  std::vector<CtMessage> TakeMessages() { return std::exchange(messages_, {}); }

  // Runs a language command and drains its results.
  CtOutcome Run(const std::string& text) {
    CtOutcome out;
    CS_COMMAND* cmd = Command();
    if (!cmd || ct_command(cmd, CS_LANG_CMD, const_cast<char*>(text.c_str()),
                           static_cast<CS_INT>(text.size()), CS_UNUSED) != CS_SUCCEED)
      out.ok = false;
    return Send(cmd, out);
  }

  // Sends a language command and reads up to its first result, which must have rows: the
  // caller binds and fetches on Command().
  bool StartRows(const std::string& text) {
    CS_COMMAND* cmd = Command();
    CS_INT type = 0;
    return cmd &&
           ct_command(cmd, CS_LANG_CMD, const_cast<char*>(text.c_str()), CS_NULLTERM, CS_UNUSED) ==
               CS_SUCCEED &&
           ct_send(cmd) == CS_SUCCEED && ct_results(cmd, &type) == CS_SUCCEED &&
           type == CS_ROW_RESULT;
  }

  // Sends the command as prepared and drains the results into out.
  CtOutcome Send(CS_COMMAND* cmd, CtOutcome out) {
    messages_.clear();
    if (out.ok && ct_send(cmd) != CS_SUCCEED) out.ok = false;
    if (out.ok) Drain(cmd, out);
    for (const CtMessage& m : messages_) out.messages.push_back(m.number);
    return out;
  }

  // The session's one command (made at first use).
  CS_COMMAND* Command() {
    if (!cmd_ && con_ && ct_cmd_alloc(con_, &cmd_) != CS_SUCCEED) cmd_ = nullptr;
    return cmd_;
  }

  void DropCommand() {
    if (cmd_) ct_cmd_drop(cmd_);
    cmd_ = nullptr;
  }

  // Drains the results of a sent command.
  void Drain(CS_COMMAND* cmd, CtOutcome& out) {
    CS_INT type = 0;
    CS_RETCODE rc;
    while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
      if (type == CS_ROW_RESULT || type == CS_STATUS_RESULT || type == CS_CURSOR_RESULT ||
          type == CS_PARAM_RESULT) {
        CtResult r;
        if (!FetchAll(cmd, r)) out.ok = false;
        if (type != CS_STATUS_RESULT) out.results.push_back(std::move(r));
      } else if (type == CS_CMD_FAIL) {
        out.ok = false;
      } else if (type == CS_CMD_DONE) {
        CS_INT count = -1;
        if (ct_res_info(cmd, CS_ROW_COUNT, &count, CS_UNUSED, nullptr) == CS_SUCCEED && count >= 0)
          out.counts.push_back(count);
      }
    }
    if (rc != CS_END_RESULTS) {
      out.ok = false;
      ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
    }
  }

  // Fetches the rows of the current result, all bound as text (datetimes cracked).
  bool FetchAll(CS_COMMAND* cmd, CtResult& r) {
    CS_INT n = 0;
    if (ct_res_info(cmd, CS_NUMDATA, &n, CS_UNUSED, nullptr) != CS_SUCCEED) return false;
    struct Col {
      CS_DATAFMT fmt{};
      std::vector<char> buf;
      CS_INT len = 0;
      CS_SMALLINT ind = 0;
      bool datetime = false;
    };
    std::vector<Col> cols(static_cast<size_t>(n));
    for (CS_INT i = 0; i < n; ++i) {
      Col& c = cols[static_cast<size_t>(i)];
      CS_DATAFMT desc{};
      if (ct_describe(cmd, i + 1, &desc) != CS_SUCCEED) return false;
      r.names.emplace_back(desc.name, static_cast<size_t>(desc.namelen > 0 ? desc.namelen : 0));
      c.datetime = desc.datatype == CS_DATETIME_TYPE || desc.datatype == CS_DATETIME4_TYPE;
      c.fmt.datatype = c.datetime ? CS_DATETIME_TYPE : CS_CHAR_TYPE;
      c.fmt.format = CS_FMT_UNUSED;
      c.fmt.maxlength = c.datetime ? 8 : 300000;
      c.fmt.count = 1;
      c.buf.resize(static_cast<size_t>(c.fmt.maxlength));
      if (ct_bind(cmd, i + 1, &c.fmt, c.buf.data(), &c.len, &c.ind) != CS_SUCCEED) return false;
    }
    CS_INT rows = 0;
    CS_RETCODE rc;
    while ((rc = ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows)) == CS_SUCCEED ||
           rc == CS_ROW_FAIL) {
      std::vector<std::optional<std::string>> row;
      for (Col& c : cols) {
        if (c.ind == -1) {
          row.emplace_back();
        } else if (c.datetime) {
          CS_DATEREC rec{};
          cs_dt_crack(ctx_, CS_DATETIME_TYPE, c.buf.data(), &rec);
          char text[64];
          std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d",
                        static_cast<int>(rec.dateyear), static_cast<int>(rec.datemonth) + 1,
                        static_cast<int>(rec.datedmonth), static_cast<int>(rec.datehour),
                        static_cast<int>(rec.dateminute), static_cast<int>(rec.datesecond),
                        static_cast<int>(rec.datemsecond));
          row.emplace_back(text);
        } else {
          size_t len = static_cast<size_t>(c.len > 0 ? c.len : 0);
          if (len > 0 && c.buf[len - 1] == '\0') --len;
          row.emplace_back(std::string(c.buf.data(), len));
        }
      }
      r.rows.push_back(std::move(row));
    }
    return rc == CS_END_DATA;
  }

 private:
  static CtSession* Of(CS_CONNECTION* con) {
    CtSession* self = nullptr;
    if (con) ct_con_props(con, CS_GET, CS_USERDATA, &self, sizeof self, nullptr);
    return self;
  }
  static CS_RETCODE OnServer(CS_CONTEXT*, CS_CONNECTION* con, CS_SERVERMSG* msg) {
    if (CtSession* self = Of(con))
      self->messages_.push_back(
          {static_cast<int>(msg->msgnumber), static_cast<int>(msg->severity), msg->text});
    return CS_SUCCEED;
  }
  static CS_RETCODE OnClient(CS_CONTEXT*, CS_CONNECTION* con, CS_CLIENTMSG* msg) {
    if (CtSession* self = Of(con))
      self->messages_.push_back(
          {static_cast<int>(msg->msgnumber), static_cast<int>(msg->severity), msg->msgstring});
    return CS_SUCCEED;
  }
  void Drop() {
    if (ctx_) {
      ct_exit(ctx_, CS_FORCE_EXIT);
      cs_ctx_drop(ctx_);
    }
    ctx_ = nullptr;
  }

  CS_CONTEXT* ctx_ = nullptr;
  CS_CONNECTION* con_ = nullptr;
  CS_COMMAND* cmd_ = nullptr;
  std::vector<CtMessage> messages_;
};

}  // namespace twtest

#endif  // TW_TESTS_TDS5D_TDS5D_CTLIB_H_
