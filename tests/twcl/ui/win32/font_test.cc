// Fonts, pens and brushes as GDI objects, asked of GDI itself; the font dialog. Runs under
// Xvfb.
#include "twcl/ui/font.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../collect_warnings.h"
#include "twcl/ui/controls.h"
#include "twcl/ui/graphics.h"
#include "twcl/ui/probe.h"

namespace {

using namespace ui_probe;

class FontTest : public CollectWarnings {
 protected:
  void TearDown() override {
    UI_Controller::Instance().FlushEvents();
    CollectWarnings::TearDown();
  }
};

// Counts the change notices of an object.
struct Notices {
  int count = 0;
  bool On() {
    ++count;
    return true;
  }
};

TEST_F(FontTest, FontsAreMadeAsDescribed) {
  long ppi = UI_ProbePixelsPerInch();
  struct Case {
    const char* face;
    short points;
    long style;
    long weight;
  } cases[] = {
      {"DejaVu Sans", 10, 0, 400},
      {"DejaVu Sans", 14, UI_FontBold | UI_FontItalic, 700},
      {"DejaVu Sans", 12, UI_FontUnderline | UI_FontStrikeOut, 400},
      {"DejaVu Sans", 300, 0, 400},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.points);
    UI_Font f(k.face, k.points, k.style);
    UI_ProbeFontInfo got = UI_ProbeFont(f.Handle());
    ASSERT_TRUE(got.ok);
    EXPECT_EQ(got.height, UI_FontCellHeight(k.points, ppi));
    EXPECT_EQ(got.weight, k.weight);
    EXPECT_EQ(got.italic, (k.style & UI_FontItalic) != 0);
    EXPECT_EQ(got.underline, (k.style & UI_FontUnderline) != 0);
    EXPECT_EQ(got.strikeout, (k.style & UI_FontStrikeOut) != 0);
    EXPECT_EQ(got.face, k.face);
    // The readers answer what was made; a size given exactly keeps its number.
    EXPECT_EQ(f.PointSize(), k.points);
    EXPECT_STREQ(f.TypeFace().AsPtr(), k.face);
    EXPECT_EQ(f.Style(), k.style);
    EXPECT_EQ(f.Height(), UI_FontCellHeight(k.points, ppi));
    EXPECT_GT(f.AverageCharWidth(), 0);
    EXPECT_GT(f.Width("Tarnway"), f.Width("T"));
  }
  if (ppi == 96) {
    EXPECT_EQ(UI_ProbeFont(UI_Font("DejaVu Sans", 10).Handle()).height, 13);
  }

  UI_Font system;  // the stock system font
  EXPECT_TRUE(system.IsStock());
  EXPECT_TRUE(UI_ProbeFont(system.Handle()).ok);
  EXPECT_GT(system.Height(), 0);
  // A made font turned into a stock one shares the stock font; a number with no stock font
  // changes nothing.
  UI_Font f("DejaVu Sans", 10);
  EXPECT_FALSE(f.UseStock(999));
  EXPECT_FALSE(f.IsStock());
  ASSERT_TRUE(f.UseStock(13));
  EXPECT_TRUE(f.IsStock());
  EXPECT_EQ(f.Handle(), system.Handle());
  EXPECT_STREQ(f.TypeFace().AsPtr(), system.TypeFace().AsPtr());
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(FontTest, EqualFontsShareOnePlatformFont) {
  std::size_t before = UI_FontTable::Shared().Size();
  auto a = std::make_unique<UI_Font>("DejaVu Sans", 12, UI_FontBold);
  auto b = std::make_unique<UI_Font>("DejaVu Sans", 12, UI_FontBold);
  UI_Font c(*a);  // a copy is an equal font as well
  UI_Font other("DejaVu Sans", 12, 0);
  EXPECT_EQ(a->Handle(), b->Handle());
  EXPECT_EQ(c.Handle(), a->Handle());
  EXPECT_NE(other.Handle(), a->Handle());
  EXPECT_EQ(UI_FontTable::Shared().Size(), before + 2);
  void* shared = a->Handle();
  a.reset();
  b.reset();
  EXPECT_TRUE(UI_ProbeFont(c.Handle()).ok) << "the last user's platform font must stay";
  EXPECT_EQ(c.Handle(), shared);
  // Re-made fonts move between entries: the old one goes with its last user.
  c.Bold(false);
  EXPECT_EQ(c.Handle(), other.Handle());
  EXPECT_EQ(UI_FontTable::Shared().Size(), before + 1);
}

TEST_F(FontTest, SettersChangeOnlyWhatChanged) {
  UI_Font f("DejaVu Sans", 11, 0);
  Notices n;
  f.AddDependent(CL_Binding0<Notices>(&n, &Notices::On));
  struct Step {
    const char* what;
    std::function<bool()> act;
    int notices;
    long weight, height_points;
    bool italic;
  } steps[] = {
      {"bold off while off", [&] { return f.Bold(false); }, 0, 400, 11, false},
      {"size unchanged", [&] { return f.PointSize(11); }, 0, 400, 11, false},
      {"bold on", [&] { return f.Bold(true); }, 1, 700, 11, false},
      {"italic on", [&] { return f.Italic(true); }, 2, 700, 11, true},
      {"bigger", [&] { return f.PointSize(20); }, 3, 700, 20, true},
      {"descriptor",
       [&] {
         f = UI_FontDesc("DejaVu Sans", 11, 0);
         return true;
       },
       4, 400, 11, false},
  };
  long ppi = UI_ProbePixelsPerInch();
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    EXPECT_TRUE(s.act());
    EXPECT_EQ(n.count, s.notices);
    UI_ProbeFontInfo got = UI_ProbeFont(f.Handle());
    EXPECT_EQ(got.weight, s.weight);
    EXPECT_EQ(got.italic, s.italic);
    EXPECT_EQ(got.height, UI_FontCellHeight(s.height_points, ppi));
  }
  // Not a font descriptor: a warning and no change.
  f = static_cast<const CL_Object&>(UI_Color(3));
  ASSERT_EQ(g_warnings.size(), 1u);
  EXPECT_EQ(g_warnings[0],
            "Class 'UI_Font' does not implement method 'operator= (const CL_Object&)'\n");
  EXPECT_EQ(n.count, 4);
}

TEST_F(FontTest, BadFaces) {
  // A face the display lacks: a warning naming both, and a usable font of the face chosen.
  UI_Font missing("No Such Face Tw", 10, 0);
  ASSERT_EQ(g_warnings.size(), 1u);
  UI_ProbeFontInfo got = UI_ProbeFont(missing.Handle());
  ASSERT_TRUE(got.ok);
  EXPECT_STRNE(missing.TypeFace().AsPtr(), "No Such Face Tw");
  EXPECT_EQ(g_warnings[0], "UI_Font: no type face 'No Such Face Tw'; the display chose '" +
                               std::string(missing.TypeFace().AsPtr()) + "'");
  EXPECT_GT(missing.Width("text"), 0);

  // No face at all: nothing is made, the readers answer the font's own fields.
  UI_Font none("", 12, UI_FontBold);
  EXPECT_EQ(none.Handle(), nullptr);
  EXPECT_EQ(none.PointSize(), 12);
  EXPECT_TRUE(none.IsBold());
  EXPECT_EQ(none.Height(), 0);
  EXPECT_EQ(none.TextMetrics(), nullptr);
}

TEST_F(FontTest, PensAndBrushesAreMadeAndSelected) {
  void* dc = UI_ProbeMemoryDc();
  ASSERT_NE(dc, nullptr);
  {
    UI_DisplaySurface s(nullptr, dc);
    struct PenCase {
      long pattern;
      short thickness;
      std::uint32_t style;
    } pens[] = {
        {0, 1, kPsNull}, {1, 3, kPsSolid}, {2, 1, kPsDash}, {3, 1, kPsDot}, {9, 2, kPsSolid}};
    for (const auto& p : pens) {
      SCOPED_TRACE(p.pattern);
      s.SetPen(UI_PenDescriptor(p.thickness, UI_Color(3), p.pattern));
      UI_ProbeGdiInfo got = UI_ProbePen(s.Pen().Handle());
      ASSERT_TRUE(got.ok);
      EXPECT_EQ(got.style, p.style);
      EXPECT_EQ(got.width, p.thickness);
      if (p.style != kPsNull) {
        EXPECT_EQ(got.color, 0x0000ffu);
      }
      EXPECT_EQ(UI_ProbeSelected(dc, kObjPen), s.Pen().Handle());
      EXPECT_EQ(UI_ProbeTextColor(dc), 0x0000ffu);  // text is written in the pen's colour
    }
    struct BrushCase {
      long pattern;
      std::uint32_t style;
    } brushes[] = {{0, kBsHatched}, {1, kBsNull}, {2, kBsSolid}, {5, kBsSolid}};
    for (const auto& b : brushes) {
      SCOPED_TRACE(b.pattern);
      s.SetBrush(UI_BrushDescriptor(UI_Color(2), b.pattern));
      UI_ProbeGdiInfo got = UI_ProbeBrush(s.Brush().Handle());
      ASSERT_TRUE(got.ok);
      EXPECT_EQ(got.style, b.style);
      if (b.style == kBsHatched) {
        EXPECT_EQ(got.width, long(kHsBDiagonal));
      }
      if (b.style != kBsNull) {
        EXPECT_EQ(got.color, 0xff0000u);
      }
      EXPECT_EQ(UI_ProbeSelected(dc, kObjBrush), s.Brush().Handle());
    }
    // Setters one at a time, and the descriptor read back.
    s.Pen().Color(UI_Color(1));
    s.Pen().Thickness(4);
    EXPECT_EQ(UI_ProbePen(s.Pen().Handle()).color, 0x00ff00u);
    EXPECT_EQ(s.Pen().Descriptor().Thickness(), 4);
    s.Brush().Pattern(0);
    EXPECT_EQ(UI_ProbeBrush(s.Brush().Handle()).style, kBsHatched);

    s.SetFont(UI_FontDesc("DejaVu Sans", 16, UI_FontBold));
    EXPECT_EQ(UI_ProbeSelected(dc, kObjFont), s.Font().Handle());
    EXPECT_EQ(UI_ProbeFont(s.Font().Handle()).weight, 700);
    EXPECT_GT(s.TextWidth("wide text"), s.TextWidth("w"));

    // Saved attributes come back after changes.
    ASSERT_TRUE(s.SaveAttributes());
    s.SetPen(UI_PenDescriptor(1, UI_Color(4), 2));
    s.SetBrush(UI_BrushDescriptor(UI_Color(7), 2));
    s.SetFont(UI_FontDesc("DejaVu Sans", 8, 0));
    ASSERT_TRUE(s.RestoreAttributes());
    EXPECT_EQ(UI_ProbePen(s.Pen().Handle()).color, 0x00ff00u);
    EXPECT_EQ(UI_ProbePen(s.Pen().Handle()).width, 4);
    EXPECT_EQ(UI_ProbeBrush(s.Brush().Handle()).style, kBsHatched);
    EXPECT_EQ(UI_ProbeFont(s.Font().Handle()).height,
              UI_FontCellHeight(16, UI_ProbePixelsPerInch()));
    EXPECT_EQ(UI_ProbeSelected(dc, kObjFont), s.Font().Handle());
    EXPECT_FALSE(s.RestoreAttributes());  // nothing saved any more

    s.Pen() = static_cast<const CL_Object&>(UI_PenDescriptor());
    s.Brush() = static_cast<const CL_Object&>(UI_BrushDescriptor());
    ASSERT_EQ(g_warnings.size(), 2u);
    EXPECT_EQ(g_warnings[0],
              "Class 'UI_Pen' does not implement method 'Operator= (const CL_Object&)'\n");
    EXPECT_EQ(g_warnings[1],
              "Class 'UI_Brush' does not implement method 'Operator= (const CL_Object&)'\n");
  }
  // The surface gave the context back its stock objects: none of its own stays selected.
  EXPECT_TRUE(UI_ProbeFont(UI_ProbeSelected(dc, kObjFont)).ok);
  UI_ProbeFreeDc(dc);
}

const UI_ChildDescriptor kFontTable[] = {
    {UI_KindStringEditor, 11, 10, 10, 200, 30, true, "text", nullptr},
    {UI_KindLabel, 12, 10, 50, 200, 30, false, "label", nullptr},
    {UI_KindPushButton, 1, 10, 90, 80, 26, true, "OK", nullptr},
    {UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};

TEST_F(FontTest, WindowsShowTheirObjectsFonts) {
  UI_Dialog dlg(nullptr, UI_Rectangle(40, 40, 240, 140), "Fonts", kFontTable);
  // Before the window exists and after.
  ASSERT_TRUE(dlg.Child(11)->SetFont(UI_FontDesc("DejaVu Sans", 15, UI_FontBold)));
  ASSERT_TRUE(dlg.MakeVisualElement());
  ASSERT_TRUE(dlg.Child(12)->SetFont(UI_FontDesc("DejaVu Sans", 13, UI_FontItalic)));
  struct Case {
    long id;
    long weight;
    bool italic;
  } cases[] = {{11, 700, false}, {12, 400, true}};
  for (const auto& k : cases) {
    UI_VisualObject* o = dlg.Child(k.id);
    void* shown = reinterpret_cast<void*>(UI_ProbeSend(o->Handle(), kWmGetFont));
    EXPECT_EQ(shown, o->Font()->Handle()) << k.id;
    UI_ProbeFontInfo got = UI_ProbeFont(shown);
    EXPECT_EQ(got.face, "DejaVu Sans");
    EXPECT_EQ(got.weight, k.weight);
    EXPECT_EQ(got.italic, k.italic);
  }
  // A change of an object's font reaches its window.
  UI_Font* own = dlg.Child(12)->Font();
  ASSERT_TRUE(own->PointSize(24));
  void* shown = reinterpret_cast<void*>(UI_ProbeSend(dlg.Child(12)->Handle(), kWmGetFont));
  EXPECT_EQ(shown, own->Handle());
  EXPECT_EQ(UI_ProbeFont(shown).height, UI_FontCellHeight(24, UI_ProbePixelsPerInch()));
  EXPECT_EQ(dlg.Child(1)->Font(), nullptr);
  EXPECT_NE(UI_ProbeSend(dlg.Child(1)->Handle(), kWmGetFont), 0);  // the dialogs' font
  EXPECT_FALSE(dlg.Child(1)->SetFont(UI_FontDesc("", 10, 0)));
}

TEST_F(FontTest, FontDialogCancelledOrChosen) {
  UI_Dialog owner(nullptr, UI_Rectangle(40, 40, 240, 140), "Owner", kFontTable);
  ASSERT_TRUE(owner.MakeVisualElement());
  struct Case {
    int button;
    bool answer;
  } cases[] = {{kIdCancel, false}, {kIdOk, true}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.button);
    UI_Font f("DejaVu Sans", 12, UI_FontItalic);
    Notices n;
    f.AddDependent(CL_Binding0<Notices>(&n, &Notices::On));
    UI_ProbeAnswerMessageBox("Font", k.button);
    EXPECT_EQ(UI_FontSelectDialog(&owner, f), k.answer);
    // The dialog starts at the font's face and style; OK keeps them (a normal weight is
    // not bold).
    EXPECT_STREQ(f.TypeFace().AsPtr(), "DejaVu Sans");
    EXPECT_EQ(f.Style(), UI_FontItalic);
    EXPECT_GT(f.PointSize(), 6);
    EXPECT_LT(f.PointSize(), 16);
    EXPECT_EQ(n.count, k.answer ? 1 : 0);
  }
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(FontTest, DisplayFontsAreListedOnce) {
  const std::vector<UI_FontInfo>& fonts = UI_Font::EnumerateFonts();
  ASSERT_FALSE(fonts.empty());
  bool dejavu = false;
  for (std::size_t i = 0; i < fonts.size(); ++i) {
    dejavu = dejavu || fonts[i].TypeFace() == "DejaVu Sans";
    if (i) {
      EXPECT_LT(fonts[i - 1].Compare(fonts[i]), 0) << fonts[i].AsString().AsPtr();
    }
  }
  EXPECT_TRUE(dejavu);
  std::size_t n = fonts.size();
  EXPECT_EQ(UI_Font::EnumerateFonts().size(), n);
}

}  // namespace
