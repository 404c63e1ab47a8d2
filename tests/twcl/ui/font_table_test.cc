#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "collect_warnings.h"
#include "twcl/ui/font.h"

namespace {

using FontTableTest = CollectWarnings;

std::vector<void*> g_freed;
void Free(void* h) {
  g_freed.push_back(h);
}

std::unique_ptr<UI_FontEntry> Entry(const char* face, short points, long style, void* handle) {
  auto e = std::make_unique<UI_FontEntry>(UI_FontDesc(face, points, style), 0, false);
  e->SetHandle(handle, Free);
  return e;
}

TEST_F(FontTableTest, EqualFontsShareOneEntryUntilTheLastLeaves) {
  g_freed.clear();
  UI_FontTable t;
  int h1 = 0, h2 = 0, h3 = 0;
  UI_FontEntry* a = t.Add(Entry("Arial", 10, UI_FontBold, &h1));
  t.Acquire(a);
  // A second font of the same descriptor: the new platform font goes, the entry is shared.
  UI_FontEntry* b = t.Add(Entry("Arial", 10, UI_FontBold, &h2));
  EXPECT_EQ(b, a);
  EXPECT_EQ(g_freed, std::vector<void*>{&h2});
  t.Acquire(b);
  EXPECT_EQ(a->count, 2);
  // Size, style and face each tell fonts apart.
  struct Other {
    const char* face;
    short points;
    long style;
  } others[] = {{"Arial", 11, UI_FontBold}, {"Arial", 10, 0}, {"arial", 10, UI_FontBold}};
  for (const auto& o : others) EXPECT_EQ(t.Find(UI_FontDesc(o.face, o.points, o.style)), nullptr);
  EXPECT_EQ(t.Find(UI_FontDesc("Arial", 10, UI_FontBold)), a);
  UI_FontEntry* c = t.Add(Entry("Courier", 8, 0, &h3));
  t.Acquire(c);
  EXPECT_EQ(t.Size(), 2u);

  t.Release(a);  // one user left: the platform font stays
  EXPECT_EQ(g_freed.size(), 1u);
  EXPECT_EQ(t.Find(UI_FontDesc("Arial", 10, UI_FontBold)), a);
  t.Release(b);
  EXPECT_EQ(g_freed, (std::vector<void*>{&h2, &h1}));
  EXPECT_EQ(t.Find(UI_FontDesc("Arial", 10, UI_FontBold)), nullptr);
  t.Release(nullptr);  // a font that never had an entry
  t.Release(c);
  EXPECT_EQ(t.Size(), 0u);
  EXPECT_EQ(g_freed.size(), 3u);
}

TEST_F(FontTableTest, DialogPointSizeHoldsLargeHeights) {
  struct Case {
    long height, ppi, points;
  } cases[] = {
      {-13, 96, 9},
      {13, 96, 9},
      {-16, 96, 12},
      {-20, 120, 12},
      // 114 and above overflowed a 32-bit product with the dialog's scale.
      {-114, 96, 85},
      {-200, 96, 150},
      {-3000, 96, 2257},
      {-2000000, 96, SHRT_MAX},
      {LONG_MIN / 2, 96, SHRT_MAX},
      {LONG_MIN, 96, SHRT_MAX},
      {LONG_MAX, 1, SHRT_MAX},
      {-13, 0, 0},
      {-13, -96, 0},
  };
  for (const auto& k : cases)
    EXPECT_EQ(UI_FontDialogPointSize(k.height, k.ppi), k.points) << k.height << " at " << k.ppi;
}

TEST_F(FontTableTest, FontInfosOrderAndDescribeThemselves) {
  struct Case {
    UI_FontInfo info;
    const char* text;
  } cases[] = {
      {UI_FontInfo("Arial", 10, 0, false), "Arial 10 points"},
      {UI_FontInfo("Arial", 10, UI_FontBold | UI_FontItalic, false), "Arial 10 points italic bold"},
      {UI_FontInfo("Tahoma", 0, UI_FontUnderline | UI_FontStrikeOut, true),
       "Tahoma scalable underlined strikeout"},
  };
  for (const auto& k : cases) EXPECT_STREQ(k.info.AsString().AsPtr(), k.text);
  UI_FontInfo fixed("Arial", 10, 0, false), scalable("Arial", 10, 0, true);
  EXPECT_EQ(fixed.Compare(scalable), -1);
  EXPECT_EQ(scalable.Compare(fixed), 1);
  EXPECT_EQ(fixed.Compare(UI_FontInfo("Arial", 10, 0, false)), 0);
  EXPECT_EQ(fixed.Compare(UI_FontInfo("Arial", 9, 0, true)), 1);  // size before scalable
}

}  // namespace
