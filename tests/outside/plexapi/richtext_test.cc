// Rich-text records: the three header forms, every truncation of a stream, text both ways
// (also against the engine's own composite text), record codecs, insertion and the cutting of
// long rich text into items.
#include "richtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "flowcore.h"
#include "plexapi.h"

namespace {

using plexa::rt::Record;
using plexa::rt::Walker;

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s.push_back(static_cast<char>(c));
  return s;
}

// A stream with one record of each header form and an unknown record type.
std::string ThreeForms() {
  return Bytes({0x81, 0x02,                                               // 2-byte paragraph
                0x85, 0xFF, 0x09, 0x00, 0, 0, 0, 0, 'h', 0x00,            // 4-byte text "h", pad
                0x85, 0x00, 0x0C, 0,    0, 0, 0, 0, 0,   0,    'o', 'k',  // 6-byte text "ok"
                0xEE, 0x04, 0x01, 0x02});                                 // unknown, 2-byte form
}

TEST(RichtextWalk, ReadsEveryHeaderForm) {
  const std::string s = ThreeForms();
  Walker w(s);
  Record r;
  std::vector<std::pair<int, size_t>> seen;
  while (w.Next(r)) seen.emplace_back(r.signature, r.header);
  EXPECT_FALSE(w.failed());
  const std::vector<std::pair<int, size_t>> want = {{0x81, 2}, {0x85, 4}, {0x85, 6}, {0xEE, 2}};
  EXPECT_EQ(seen, want);
  std::string text;
  ASSERT_EQ(plexa::rt::ToText(s, text), 0u);
  EXPECT_EQ(text, "\nhok");
  EXPECT_EQ(plexa::rt::CountRecords(s), 4u);
}

TEST(RichtextWalk, EveryTruncationInsideARecordIsRefused) {
  const std::string s = ThreeForms();
  std::vector<size_t> boundaries = {0};
  Walker w(s);
  Record r;
  while (w.Next(r)) boundaries.push_back(r.offset + r.whole.size());
  for (size_t n = 0; n <= s.size(); ++n) {
    const bool boundary = std::find(boundaries.begin(), boundaries.end(), n) != boundaries.end();
    EXPECT_EQ(plexa::rt::Validate(s.substr(0, n)), boundary ? 0u : GVERR_COMPOSITE) << n;
  }
  EXPECT_EQ(plexa::rt::Validate("", false), GVERR_COMPOSITE);
}

TEST(RichtextWalk, MalformedHeadersEndTheWalk) {
  const std::string cases[] = {
      Bytes({0x85, 0xFF, 0x02, 0x00}),       // length below its 4-byte header
      Bytes({0x85, 0x00, 0x00, 0, 0, 0}),    // length 0 in the 6-byte form: would not advance
      Bytes({0x85, 0x01}),                   // 2-byte form of length 1
      Bytes({0x85, 0xFF, 0x05, 0x00, 'x'}),  // odd length without its padding byte
      Bytes({0x85, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}),  // a length far beyond the stream
  };
  for (const std::string& c : cases) {
    EXPECT_EQ(plexa::rt::Validate(c), GVERR_COMPOSITE);
    std::string text;
    EXPECT_EQ(plexa::rt::ToText(c, text), GVERR_COMPOSITE);
  }
}

TEST(RichtextText, LinesBecomeParagraphsAndBack) {
  // Exact bytes: a run, a paragraph, a run; runs of odd length carry a padding byte.
  const std::string records = plexa::rt::FromText("ab\r\nc");
  EXPECT_EQ(records, Bytes({0x85, 0xFF, 0x0A, 0x00, 0,    0, 0, 0, 'a', 'b', 0x81,
                            0x02, 0x85, 0xFF, 0x09, 0x00, 0, 0, 0, 0,   'c', 0x00}));
  const std::string texts[] = {"", "one", "two\nlines", "\n\nblank\n", "é\nü"};
  for (const std::string& t : texts) {
    std::string back;
    ASSERT_EQ(plexa::rt::ToText(plexa::rt::FromText(t), back), 0u);
    EXPECT_EQ(back, t);
    std::vector<std::string> paragraphs;
    ASSERT_EQ(plexa::rt::ToParagraphs(plexa::rt::FromText(t), paragraphs), 0u);
    size_t lines = 1 + std::count(t.begin(), t.end(), '\n');
    EXPECT_EQ(paragraphs.size(), lines);
  }
}

TEST(RichtextText, TheEngineReadsAndWritesTheSameRecords) {
  const std::string texts[] = {"", "single", "two\nlines", std::string(70000, 'x') + "\nend"};
  for (const std::string& t : texts) {
    TWStream text{};
    TWStream comp{};
    ASSERT_EQ(TWStreamDataSet(&text, TWSTREAMFMT_NATIVE, t.data(), static_cast<uint32_t>(t.size())),
              0u);
    ASSERT_EQ(TWStreamDataConvert(&comp, &text, 0, TWSTREAMFMT_COMPOSITE, nullptr, nullptr), 0u);
    const std::string engine(static_cast<const char*>(comp.data), comp.length);
    EXPECT_EQ(engine, plexa::rt::FromText(t));

    // And the engine renders our records as the text they came from.
    const std::string ours = plexa::rt::FromText(t);
    TWStream ourComp{};
    TWStream rendered{};
    ASSERT_EQ(TWStreamDataSet(&ourComp, TWSTREAMFMT_COMPOSITE, ours.data(),
                              static_cast<uint32_t>(ours.size())),
              0u);
    ASSERT_EQ(TWStreamDataConvert(&rendered, &ourComp, 0, TWSTREAMFMT_NATIVE, nullptr, nullptr),
              0u);
    EXPECT_EQ(std::string(static_cast<const char*>(rendered.data), rendered.length), t);
    for (TWStream* s : {&text, &comp, &ourComp, &rendered}) TWStreamDataFree(s);
  }
}

TEST(RichtextPieces, LongRichTextIsCutAtRecordsAndRejoined) {
  // 150000 bytes of text in runs of about 1000 bytes: three pieces.
  std::string records;
  for (int i = 0; i < 150; ++i) {
    plexa::rt::AppendText(records, std::string(992, static_cast<char>('a' + i % 26)));
    plexa::rt::AppendParagraph(records);
  }
  ASSERT_GT(records.size(), 150000u);
  const std::vector<std::string> pieces = plexa::rt::CutPieces(records);
  EXPECT_EQ(pieces.size(), 3u);
  std::string joined;
  for (const std::string& p : pieces) {
    EXPECT_LE(p.size(), GV_RICHTEXT_PIECE);
    EXPECT_EQ(plexa::rt::Validate(p, false), 0u);
    joined += p;
  }
  EXPECT_EQ(joined, records);
}

TEST(RichtextPieces, ARecordLargerThanAPieceStandsAlone) {
  std::string records;
  plexa::rt::AppendText(records, "before");
  plexa::rt::AppendText(records, std::string(70000, 'z'));  // 6-byte header form
  plexa::rt::AppendText(records, "after");
  const std::vector<std::string> pieces = plexa::rt::CutPieces(records);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_GT(pieces[1].size(), GV_RICHTEXT_PIECE);
  EXPECT_EQ(static_cast<uint8_t>(pieces[1][1]), 0u);
  EXPECT_EQ(pieces[0] + pieces[1] + pieces[2], records);
  // An empty stream keeps its item as one empty piece.
  EXPECT_EQ(plexa::rt::CutPieces(""), std::vector<std::string>{""});
}

TEST(RichtextRecords, KindsBuildTheirRecords) {
  GVParagraphDef def{};
  def.leftMargin = 1440;
  def.firstTab = 720;
  GVDocLink link{};
  for (int i = 0; i < 48; ++i) reinterpret_cast<uint8_t*>(&link)[i] = static_cast<uint8_t>(i);
  GVFieldRecord field{};
  field.itemType = GVTYPE_NUMBER_LIST;
  field.flags = GVFIELDF_STORED;
  field.listFlags = GVFIELD_MULTIVALUE;
  field.name = "ActiveDays";
  field.defaultFormula = "1 : 2";

  struct Case {
    uint32_t kind;
    const void* record;
    uint8_t signature;
    size_t length;  // the whole record without padding
  } cases[] = {
      {GVCD_PARAGRAPH, nullptr, GVCDSIG_PARAGRAPH, 2},
      {GVCD_PARDEF, &def, GVCDSIG_PARDEF, 4 + 120},
      {GVCD_PARSELECT, &def, GVCDSIG_PARSELECT, 4 + 120},
      {GVCD_TEXT, ":\t", GVCDSIG_TEXT, 4 + 4 + 2},
      {GVCD_DOCLINK, &link, GVCDSIG_DOCLINK, 4 + 48},
      {GVCD_FIELD, &field, GVCDSIG_FIELD, 4 + 64 + 2 + 10 + 2 + 5},
  };
  for (const Case& c : cases) {
    std::string rec;
    ASSERT_EQ(plexa::rt::MakeRecord(c.kind, c.record, rec), 0u) << c.kind;
    Walker w(rec);
    Record r;
    ASSERT_TRUE(w.Next(r));
    EXPECT_EQ(r.signature, c.signature);
    EXPECT_EQ(r.length, c.length);
    EXPECT_FALSE(w.Next(r));
    EXPECT_FALSE(w.failed());
  }

  std::string rec;
  ASSERT_EQ(plexa::rt::MakeRecord(GVCD_FIELD, &field, rec), 0u);
  Walker w(rec);
  Record r;
  ASSERT_TRUE(w.Next(r));
  plexa::rt::FieldDef got;
  ASSERT_EQ(plexa::rt::DecodeField(r, got), 0u);
  EXPECT_EQ(got.name, "ActiveDays");
  EXPECT_EQ(got.defaultFormula, "1 : 2");
  EXPECT_EQ(got.itemType(), GVTYPE_NUMBER_LIST);
  EXPECT_EQ(got.flags(), GVFIELDF_STORED);
  EXPECT_EQ(got.listFlags(), GVFIELD_MULTIVALUE);

  rec.clear();
  plexa::rt::AppendDocLink(rec, link);
  Walker lw(rec);
  ASSERT_TRUE(lw.Next(r));
  GVDocLink back{};
  ASSERT_EQ(plexa::rt::DecodeDocLink(r, back), 0u);
  EXPECT_EQ(std::memcmp(&back, &link, sizeof link), 0);
}

TEST(RichtextRecords, RefusedRecords) {
  GVFieldRecord field{};
  std::string rec = "kept";
  EXPECT_EQ(plexa::rt::MakeRecord(GVCD_FIELD, &field, rec), GVERR_INVALID_ARGUMENT);  // no name
  const std::string longName(65, 'n');
  field.name = longName.c_str();
  EXPECT_EQ(plexa::rt::MakeRecord(GVCD_FIELD, &field, rec), GVERR_TOO_BIG);
  EXPECT_EQ(plexa::rt::MakeRecord(GVCD_TEXT, nullptr, rec), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(plexa::rt::MakeRecord(99, "x", rec), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(rec, "kept");

  // A field record whose name length runs past its body.
  std::string body(64, '\0');
  body += Bytes({0x20, 0x00, 'a'});
  std::string bad;
  plexa::rt::AppendRecord(bad, GVCDSIG_FIELD, body);
  Walker w(bad);
  Record r;
  ASSERT_TRUE(w.Next(r));
  plexa::rt::FieldDef def;
  EXPECT_EQ(plexa::rt::DecodeField(r, def), GVERR_COMPOSITE);
  GVDocLink link{};
  EXPECT_EQ(plexa::rt::DecodeDocLink(r, link), GVERR_COMPOSITE);
}

TEST(RichtextRecords, InsertBeforeARecordOrAtTheEnd) {
  std::string a;
  plexa::rt::AppendText(a, "1");
  plexa::rt::AppendText(a, "3");
  std::string two;
  plexa::rt::AppendText(two, "2");
  struct Case {
    uint32_t position;
    const char* want;
  } cases[] = {{0, "132"}, {1, "213"}, {2, "123"}, {3, "132"}, {99, "132"}};
  for (const Case& c : cases) {
    std::string s = a;
    ASSERT_EQ(plexa::rt::InsertRecords(s, c.position, two), 0u);
    std::string text;
    ASSERT_EQ(plexa::rt::ToText(s, text), 0u);
    EXPECT_EQ(text, c.want) << c.position;
  }
  std::string s = a;
  EXPECT_EQ(plexa::rt::InsertRecords(s, 0, "\x85"), GVERR_COMPOSITE);
  EXPECT_EQ(s, a);
}

}  // namespace
