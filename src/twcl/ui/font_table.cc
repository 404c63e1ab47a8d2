// The portable part of fonts: the table of made fonts, the descriptors the display offers,
// and the font dialog's size arithmetic.
#include <climits>

#include "twcl/ui/class_ids.h"
#include "twcl/ui/font.h"

namespace {
// Descriptor keys only: entries and infos are descriptors of other classes.
bool SameFont(const UI_FontDesc& a, const UI_FontDesc& b) {
  return UI_FontDesc(a).Compare(UI_FontDesc(b)) == 0;
}
}  // namespace

UI_FontInfo& UI_FontInfo::operator=(const UI_FontInfo& o) {
  UI_FontDesc::operator=(o);
  scalable_ = o.scalable_;
  return *this;
}

const char* UI_FontInfo::ClassName() const {
  return "UI_FontInfo";
}
CL_Long UI_FontInfo::ClassId() const {
  return UI_ClassId_FontInfo;
}
CL_Object* UI_FontInfo::Clone() const {
  return new UI_FontInfo(*this);
}

short UI_FontInfo::Compare(const CL_Object& other) const {
  if (short c = UI_FontDesc::Compare(other); c || !IsA(other)) return c;
  bool s = static_cast<const UI_FontInfo&>(other).scalable_;
  return scalable_ == s ? 0 : (scalable_ < s ? -1 : 1);
}

CL_String UI_FontInfo::AsString() const {
  CL_String s = TypeFace();
  if (scalable_) {
    s += " scalable";
  } else {
    s += " ";
    s += CL_String(CL_Long(PointSize()), 0, ' ');
    s += " points";
  }
  static const struct {
    long bit;
    const char* word;
  } kWords[] = {{UI_FontItalic, " italic"},
                {UI_FontUnderline, " underlined"},
                {UI_FontBold, " bold"},
                {UI_FontStrikeOut, " strikeout"}};
  for (const auto& w : kWords)
    if (Style() & w.bit) s += w.word;
  return s;
}

UI_FontEntry::~UI_FontEntry() {
  if (handle_ && release_) release_(handle_);
}

const char* UI_FontEntry::ClassName() const {
  return "UI_FontEntry";
}
CL_Long UI_FontEntry::ClassId() const {
  return UI_ClassId_FontEntry;
}

UI_FontTable& UI_FontTable::Shared() {
  static UI_FontTable table;
  return table;
}

UI_FontEntry* UI_FontTable::Find(const UI_FontDesc& desc) const {
  for (const auto& e : entries_)
    if (SameFont(*e, desc)) return e.get();
  return nullptr;
}

UI_FontEntry* UI_FontTable::Add(std::unique_ptr<UI_FontEntry> entry) {
  if (!entry) return nullptr;
  if (UI_FontEntry* there = Find(*entry)) return there;  // the new one goes with its font
  entries_.push_back(std::move(entry));
  return entries_.back().get();
}

void UI_FontTable::Acquire(UI_FontEntry* entry) {
  if (entry) ++entry->count;
}

void UI_FontTable::Release(UI_FontEntry* entry) {
  if (!entry || --entry->count > 0) return;
  for (auto it = entries_.begin(); it != entries_.end(); ++it)
    if (it->get() == entry) {
      entries_.erase(it);
      return;
    }
}

long UI_FontDialogPointSize(long height, long pixels_per_inch) {
  // The dialog reports a negative (character) height; the size is the same either way.
  return UI_PointSizeFromHeight(height == LONG_MIN ? LONG_MAX
                                : height < 0       ? -height
                                                   : height,
                                pixels_per_inch);
}

const char* UI_DisplayResource::ClassName() const {
  return "UI_DisplayResource";
}
