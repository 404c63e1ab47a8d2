// The link's message codec and identifiers: every message type round-trips, and malformed
// frames and identifiers are refused rather than read past their data.
#include "wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "oid.h"
#include "tw/coding.h"

namespace {

using namespace tw::snmp;

Oid O(const std::string& text) {
  Oid oid;
  EXPECT_EQ(ParseOid(text, &oid), 0) << text;
  return oid;
}

std::vector<Message> EveryType() {
  std::vector<Message> all;
  Message reg;
  reg.type = kMsgRegister;
  reg.root = O("1.3.6.1.4.1.818181.72.11");
  reg.objects = {{7, O("1.3.6.1.4.1.818181.72.11.1.1"), 3, 1, 0},
                 {8, O("1.3.6.1.4.1.818181.72.11.2.1.12.1.2"), 1, 2, 1}};
  all.push_back(reg);
  Message unreg;
  unreg.type = kMsgUnregister;
  unreg.root = reg.root;
  all.push_back(unreg);
  for (uint32_t type : {kMsgGet, kMsgGetNext, kMsgSetTest, kMsgSetUndo, kMsgSetCommit}) {
    Message m;
    m.type = type;
    m.uniqueId = 0x01020304u + type;
    m.oid = O("1.3.6.1.4.1.818181.72.11.2.1.12.1.5.2");
    m.value = type == kMsgGet ? std::string() : IntegerValue(-2);
    all.push_back(m);
  }
  Message response;
  response.type = kMsgResponse;
  response.status = kReadOnly;
  response.oid = O("1.3.6.1.4.1.818181.72.11.2.1.1.0");
  response.value = std::string(kMaxValue, 'x');
  all.push_back(response);
  Message trap;
  trap.type = kMsgTrap;
  trap.generic = 6;
  trap.specific = 3;
  trap.enterprise = O("1.3.6.1.4.1.818181.72");
  trap.bindings = {{O("1.3.6.1.4.1.818181.72.3.6"), kTypeInteger, 12, ""},
                   {O("1.3.6.1.4.1.818181.72.3.7"), kTypeText, 0, "disk full"}};
  all.push_back(trap);
  return all;
}

TEST(WireTest, EveryMessageTypeRoundTripsAndEveryTruncationIsRefused) {
  for (const Message& m : EveryType()) {
    std::string frame;
    ASSERT_EQ(EncodeMessage(m, &frame), 0) << m.type;
    ASSERT_LE(frame.size(), kMaxFrame);
    Message back;
    ASSERT_EQ(DecodeMessage(frame, &back), 0) << m.type;
    EXPECT_EQ(back, m) << m.type;
    for (size_t cut = 0; cut < frame.size(); ++cut) {
      Message partial;
      partial.type = 99;
      EXPECT_EQ(DecodeMessage(frame.substr(0, cut), &partial), kLinkBadArgument)
          << m.type << " cut at " << cut;
      EXPECT_EQ(partial.type, 99u);  // untouched on failure
    }
    EXPECT_EQ(DecodeMessage(frame + '\0', &back), kLinkBadArgument) << m.type;
  }
}

// A get of unique id 1 for an identifier whose count byte and components are given raw, and
// a value of length word valueLength followed by valueBytes.
std::string RawGet(uint8_t count, uint32_t components, uint32_t valueLength,
                   const std::string& valueBytes) {
  std::string f(4 + 4 + 1, '\0');
  tw::put_u32(f.data(), kMsgGet);
  tw::put_u32(f.data() + 4, 1);
  f[8] = static_cast<char>(count);
  for (uint32_t i = 0; i < components; ++i) {
    char w[4];
    tw::put_u32(w, i + 1);
    f.append(w, 4);
  }
  char len[4];
  tw::put_u32(len, valueLength);
  f.append(len, 4);
  return f + valueBytes;
}

TEST(WireTest, CountsAndLengthsPastTheirBoundsAreRefused) {
  struct Case {
    const char* what;
    std::string frame;
    int expected;
  };
  const Case cases[] = {
      {"32 components", RawGet(32, 32, 0, ""), 0},
      {"33 components", RawGet(33, 33, 0, ""), kLinkBadArgument},
      {"255 components claimed", RawGet(255, 40, 0, ""), kLinkBadArgument},
      {"value length past the frame", RawGet(2, 2, 9, "abc"), kLinkBadArgument},
      {"value of 1024", RawGet(2, 2, 1024, std::string(1024, 'v')), 0},
      {"value of 1025", RawGet(2, 2, 1025, std::string(1025, 'v')), kLinkBadArgument},
      {"unknown type 3", std::string("\3\0\0\0", 4), kLinkBadArgument},
      {"empty frame", std::string(), kLinkBadArgument},
  };
  for (const Case& c : cases) {
    Message m;
    EXPECT_EQ(DecodeMessage(c.frame, &m), c.expected) << c.what;
  }

  // The writer keeps to the same bounds.
  Message big;
  big.type = kMsgResponse;
  big.value = std::string(kMaxValue + 1, 'x');
  std::string out = "kept";
  EXPECT_EQ(EncodeMessage(big, &out), kLinkBadArgument);
  EXPECT_EQ(out, "kept");
  Message trap;
  trap.type = kMsgTrap;
  trap.bindings.resize(kMaxTrapBindings + 1);
  EXPECT_EQ(EncodeMessage(trap, &out), kLinkBadArgument);
  // A register whose objects outgrow one frame.
  Message reg;
  reg.type = kMsgRegister;
  reg.root = O("1.3.6.1.4.1.818181.72.11");
  reg.objects.assign(40, MibObject{1, O("1.3.6.1.4.1.818181.72.11.2.1.12.1.1"), 1, 1, 1});
  EXPECT_EQ(EncodeMessage(reg, &out), kLinkBadArgument);
  EXPECT_EQ(out, "kept");
}

TEST(WireTest, TrapTextsCarryTheirLengthTwiceAndMustAgree) {
  Message trap;
  trap.type = kMsgTrap;
  trap.bindings = {{O("1.3.6.1.4.1.818181.72.3.6"), kTypeText, 0, "abc"}};
  std::string frame;
  ASSERT_EQ(EncodeMessage(trap, &frame), 0);
  // The outer length sits before the text's own length and bytes.
  size_t outer = frame.size() - 3 - 4 - 4;
  EXPECT_EQ(tw::get_u32(frame.data() + outer), 3u);
  EXPECT_EQ(tw::get_u32(frame.data() + outer + 4), 3u);
  tw::put_u32(frame.data() + outer, 2);
  Message back;
  EXPECT_EQ(DecodeMessage(frame, &back), kLinkBadArgument);
}

TEST(OidTest, ParsesComparesAndPrints) {
  struct Parse {
    std::string text;
    int expected;
    std::string printed;
  };
  const Parse parses[] = {
      {"1.3.6.1", 0, "1.3.6.1"},
      {".1.3", 0, "1.3"},
      {"4294967295", 0, "4294967295"},
      {"", kOidBadText, ""},
      {".", kOidBadText, ""},
      {"1..3", kOidBadText, ""},
      {"1.3.", kOidBadText, ""},
      {"1.x.3", kOidBadText, ""},
      {"1 .3", kOidBadText, ""},
      {"4294967296", kOidBadText, ""},
      {std::string(64, '1'), kOidBadText, ""},
  };
  for (const Parse& p : parses) {
    Oid oid;
    oid.count = 77;
    EXPECT_EQ(ParseOid(p.text, &oid), p.expected) << p.text;
    if (p.expected == 0)
      EXPECT_EQ(oid.Text(), p.printed);
    else
      EXPECT_EQ(oid.count, 77u) << p.text;
  }
  // At most 30 dots: 31 components parse, a 32nd or a leading dot on 31 is too long.
  std::string components;
  for (int i = 0; i < 31; ++i) components += (i ? ".7" : "7");
  const Parse limits[] = {
      {components, 0, components},
      {components + ".7", kOidTooLong, ""},
      {"." + components, kOidTooLong, ""},
  };
  for (const Parse& p : limits) {
    Oid oid;
    oid.count = 77;
    EXPECT_EQ(ParseOid(p.text, &oid), p.expected) << p.text;
    EXPECT_EQ(oid.count, p.expected == 0 ? 31u : 77u) << p.text;
  }
  // A root and suffix joined may still fill all 32 components.
  Oid full;
  ASSERT_EQ(ParseOid(components, &full), 0);
  EXPECT_TRUE(full.Append(1));
  EXPECT_FALSE(full.Append(1));

  struct Compare {
    const char* a;
    const char* b;
    int expected;
  };
  const Compare compares[] = {
      {"1.3.6", "1.3.6", 0},   {"1.3", "1.3.6", -1},   {"1.3.6", "1.3", 1},
      {"1.3.5", "1.3.6", -2},  {"1.4", "1.3.6", 2},    {"1.3.6.10", "1.3.6.9", 2},
  };
  for (const Compare& c : compares)
    EXPECT_EQ(CompareOid(O(c.a), O(c.b)), c.expected) << c.a << " vs " << c.b;
}

}  // namespace
