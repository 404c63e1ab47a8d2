// The text-file connector's property dispatch over its table, with the traces of each set
// value and of unknown tokens, and the follow-ups the table's rows name.
#include "properties.h"

#include "connection.h"

namespace flatrec {

namespace {

// "ZM <trace name> = <value>" under the properties bit, the value as the row keeps it.
void TraceValue(Tracer& tracer, const Row& row, const Props& props) {
  if (!tracer.On(Tracer::kPropertyValues)) return;
  if (row.text != nullptr) {
    const std::string& text = props.*row.text;
    if (text.size() <= 32)
      tracer.Printf("ZM %s = %s", row.traceName, text.c_str());
    else
      tracer.Printf("ZM %s = %.32s . . .", row.traceName, text.c_str());
  } else if (row.kind == tw::twx::PropertyKind::kFlag) {
    tracer.Printf("ZM %s = %s", row.traceName, props.*row.word ? "TRUE" : "FALSE");
  } else {
    const auto value = static_cast<unsigned long>(static_cast<uint32_t>(props.*row.word));
    tracer.Printf("ZM %s = 0x%08lx(%lu)", row.traceName, value, value);
  }
}

}  // namespace

uint32_t LogSet(Connection& c, bool) {
  c.tracer.set_log_file(c.props.log);
  return TWSUCCESS;
}

uint32_t TraceSet(Connection& c, bool) {
  c.tracer.set_bits(static_cast<uint16_t>(c.props.trace & 0xFFFF));
  return TWSUCCESS;
}

uint32_t MapNameSet(Connection& c, bool) {
  c.props.mergeMode = c.props.mapName ? 3 : 2;
  return TWSUCCESS;
}

uint32_t Connection::SetProperty(uint32_t token, TWFIELD src) {
  Routine routine(tracer, "TWXSetProperty: ");
  const Row* row = tw::twx::FindProperty(kProperties, token, tw::twx::kSet);
  if (row == nullptr) {
    if (token & TWTOKENF_PREDEF)
      tracer.Printf("ERROR: Invalid PREDEF property token: %08lx",
                    static_cast<unsigned long>(token));
    else if (tracer.On(Tracer::kDetail))
      tracer.Printf("ZM ERROR: Invalid link property token: %08lx",
                    static_cast<unsigned long>(token));
    return routine.Exit(tw::twx::InvalidProperty(token));
  }
  const uint32_t status = tw::twx::SetProperty(*row, *this, props, src, TWSTREAMFMT_NATIVE);
  if (status == TWSUCCESS) TraceValue(tracer, *row, props);
  return routine.Exit(status);
}

uint32_t Connection::GetProperty(uint32_t token, TWFIELD dest) {
  Routine routine(tracer, "TWXGetProperty: ");
  const Row* row = tw::twx::FindProperty(kProperties, token, tw::twx::kGet);
  if (row == nullptr) {
    if (tracer.On(Tracer::kDetail))
      tracer.Printf("ZM ERROR: Invalid link property token: %08lx",
                    static_cast<unsigned long>(token));
    return routine.Exit(tw::twx::InvalidProperty(token));
  }
  return routine.Exit(tw::twx::GetProperty(*row, props, dest));
}

}  // namespace flatrec
