// The message codec: one walker template visits every field in order; the writer appends
// them, the reader checks each against what is left of the frame.
#include "wire.h"

#include "tw/coding.h"

namespace tw::snmp {
namespace {

class Writer {
 public:
  explicit Writer(std::string* out) : out_(out) {}
  static constexpr bool kReading = false;
  bool ok() const { return ok_ && out_->size() <= kMaxFrame; }
  void fail() { ok_ = false; }
  void u32(uint32_t& v) {
    unsigned char b[4];
    put_u32(b, v);
    out_->append(reinterpret_cast<char*>(b), 4);
  }
  void i32(int32_t& v) {
    uint32_t u = static_cast<uint32_t>(v);
    u32(u);
  }
  void u8(uint8_t& v) { out_->push_back(static_cast<char>(v)); }
  void oid(Oid& o) {
    if (o.count > kMaxOidComponents) return fail();
    uint8_t n = static_cast<uint8_t>(o.count);
    u8(n);
    for (uint32_t i = 0; i < o.count; ++i) u32(o.c[i]);
  }
  void bytes(std::string& s) {
    if (s.size() > kMaxValue) return fail();
    uint32_t n = static_cast<uint32_t>(s.size());
    u32(n);
    out_->append(s);
  }
  // A count of elements that follow; the writer takes it from the container.
  void count(uint32_t& n, size_t have, uint32_t max) {
    if (have > max) return fail();
    n = static_cast<uint32_t>(have);
    u32(n);
  }

 private:
  std::string* out_;
  bool ok_ = true;
};

class Reader {
 public:
  explicit Reader(std::string_view frame) : r_(frame.data(), frame.size()) {}
  static constexpr bool kReading = true;
  bool ok() const { return ok_ && r_.remaining() == 0; }
  void fail() { ok_ = false; }
  void u32(uint32_t& v) {
    if (ok_ && !r_.u32(&v)) fail();
  }
  void i32(int32_t& v) {
    if (ok_ && !r_.i32(&v)) fail();
  }
  void u8(uint8_t& v) {
    std::string_view b;
    if (!ok_ || !r_.bytes(1, &b)) return fail();
    v = static_cast<uint8_t>(b[0]);
  }
  void oid(Oid& o) {
    uint8_t n = 0;
    u8(n);
    if (!ok_ || n > kMaxOidComponents) return fail();
    o = Oid{};
    for (uint32_t i = 0; i < n && ok_; ++i) u32(o.c[i]);
    o.count = n;
  }
  void bytes(std::string& s) {
    uint32_t n = 0;
    u32(n);
    std::string_view b;
    if (!ok_ || n > kMaxValue || !r_.bytes(n, &b)) return fail();
    s.assign(b);
  }
  void count(uint32_t& n, size_t, uint32_t max) {
    u32(n);
    if (ok_ && n > max) fail();
  }

 private:
  tw::Reader r_;
  bool ok_ = true;
};

// The smallest encoded object: id, a count byte, three bytes. A count the frame cannot hold
// is refused before anything is made for it.
constexpr uint32_t kMaxObjects = kMaxFrame / 8;

template <class W>
void Walk(W& w, Message& m) {
  w.u32(m.type);
  switch (m.type) {
    case kMsgRegister: {
      uint32_t n = 0;
      w.count(n, m.objects.size(), kMaxObjects);
      w.oid(m.root);
      if constexpr (W::kReading) m.objects.resize(n <= kMaxObjects ? n : 0);
      for (MibObject& o : m.objects) {
        w.u32(o.uniqueId);
        w.oid(o.oid);
        w.u8(o.access);
        w.u8(o.type);
        w.u8(o.column);
      }
      return;
    }
    case kMsgUnregister:
      w.oid(m.root);
      return;
    case kMsgGet:
    case kMsgGetNext:
    case kMsgSetTest:
    case kMsgSetUndo:
    case kMsgSetCommit:
      w.u32(m.uniqueId);
      w.oid(m.oid);
      w.bytes(m.value);
      return;
    case kMsgResponse:
      w.i32(m.status);
      w.oid(m.oid);
      w.bytes(m.value);
      return;
    case kMsgTrap: {
      w.i32(m.generic);
      w.i32(m.specific);
      w.oid(m.enterprise);
      uint32_t n = 0;
      w.count(n, m.bindings.size(), kMaxTrapBindings);
      if constexpr (W::kReading) m.bindings.resize(n <= kMaxTrapBindings ? n : 0);
      for (TrapBinding& b : m.bindings) {
        w.oid(b.oid);
        w.u8(b.type);
        if (b.type == kTypeInteger) {
          w.i32(b.integer);
        } else if (b.type == kTypeText) {
          // The text's length stands twice: once as the value's, once as the text's own.
          uint32_t outer = static_cast<uint32_t>(b.text.size());
          w.u32(outer);
          w.bytes(b.text);
          if (outer != b.text.size()) w.fail();
        } else {
          w.fail();
        }
      }
      return;
    }
    default:
      w.fail();
  }
}

}  // namespace

int EncodeMessage(const Message& m, std::string* out) {
  std::string encoded;
  Writer w(&encoded);
  Walk(w, const_cast<Message&>(m));  // the writer only reads the fields
  if (!w.ok()) return kLinkBadArgument;
  out->append(encoded);
  return 0;
}

int DecodeMessage(std::string_view frame, Message* out) {
  Message m;
  Reader r(frame);
  Walk(r, m);
  if (!r.ok()) return kLinkBadArgument;
  *out = std::move(m);
  return 0;
}

std::string IntegerValue(int32_t v) {
  unsigned char b[4];
  put_i32(b, v);
  return std::string(reinterpret_cast<char*>(b), 4);
}

bool ReadInteger(std::string_view value, int32_t* v) {
  if (value.size() != 4) return false;
  *v = get_i32(value.data());
  return true;
}

}  // namespace tw::snmp
