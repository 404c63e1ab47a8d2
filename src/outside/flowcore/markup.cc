// Expansion of the catalogue's substitution markup into the text of a log entry.
#include "markup.h"

#include <cstdio>

#include "catalogue.h"
#include "flowcore.h"

namespace tw::engine {
namespace {

// Segments nest only a few levels in the catalogue; the bound keeps a hostile text from
// exhausting the stack.
constexpr int kMaxDepth = 32;

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

class Expander {
 public:
  Expander(std::string_view text, const MarkupArgs& args, const PropertyNamer& namer)
      : text_(text), args_(args), namer_(namer) {}

  std::string Run() {
    bool ignored = false;
    return Sequence(/*depth=*/0, /*allowDetail=*/true, &ignored);
  }

 private:
  // Expands up to the end of the text or, inside a segment (depth > 0), up to and past its
  // closing mark. *absent tells whether a markup directly at this level had no argument.
  std::string Sequence(int depth, bool allowDetail, bool* absent) {
    std::string out;
    while (pos_ < text_.size()) {
      size_t open = text_.find("[[", pos_);
      size_t close = open == std::string_view::npos ? open : text_.find("]]", open + 2);
      if (close == std::string_view::npos) {
        out.append(text_.substr(pos_));
        pos_ = text_.size();
        break;
      }
      // "[[[TWS1]]": the mark is the innermost "[[" before the close.
      open = text_.rfind("[[", close - 2);
      out.append(text_.substr(pos_, open - pos_));
      std::string_view mark = text_.substr(open + 2, close - open - 2);
      std::string_view whole = text_.substr(open, close + 2 - open);
      pos_ = close + 2;
      if (mark == "TWX(" && depth < kMaxDepth) {
        bool inner = false;
        std::string segment = Sequence(depth + 1, false, &inner);
        if (!inner) out += segment;
      } else if (mark == "TWX)" && depth > 0) {
        return out;
      } else if (mark == "TWX") {
        if (allowDetail) {
          bool inner = false;
          std::string detail = Sequence(depth, false, &inner);
          if (!inner) out += detail;
          return out;
        }
      } else if (std::optional<std::string> value; Argument(mark, &value)) {
        if (value)
          out += *value;
        else
          *absent = true;
      } else {
        out.append(whole);
      }
    }
    return out;
  }

  // True when mark is TW<kind><n> with a known kind and n from 1 to 3; *value is then the
  // argument's text, or nothing when the argument is absent.
  bool Argument(std::string_view mark, std::optional<std::string>* value) const {
    if (mark.size() != 4 || mark[0] != 'T' || mark[1] != 'W' || mark[3] < '1' || mark[3] > '3')
      return false;
    size_t n = static_cast<size_t>(mark[3] - '1');
    uint32_t number = args_.ints[n];
    switch (mark[2]) {
      case 'S':
        if (args_.streams[n] && !args_.streams[n]->empty()) *value = *args_.streams[n];
        return true;
      case 'I':
        *value = std::to_string(static_cast<int32_t>(number));
        return true;
      case 'P':
        if (number != 0) {
          std::string name = namer_ ? namer_(number) : std::string();
          *value = name.empty() ? Hex(number) : std::move(name);
        }
        return true;
      case 'T':
        if (number != 0) {
          std::string name = TypeName(number);
          *value = name.empty() ? std::to_string(number) : std::move(name);
        }
        return true;
      case 'O':
        if (number != 0) {
          std::string name = ObjectKindName(number);
          *value = name.empty() ? std::to_string(number) : std::move(name);
        }
        return true;
      default:
        return false;
    }
  }

  std::string_view text_;
  const MarkupArgs& args_;
  const PropertyNamer& namer_;
  size_t pos_ = 0;
};

}  // namespace

std::string ExpandMarkup(std::string_view text, const MarkupArgs& args,
                         const PropertyNamer& propertyName) {
  return Expander(text, args, propertyName).Run();
}

std::string TypeName(uint32_t type) {
  if (type <= TWTYPE_MAX) return CatalogueText(TWMSG_TYPE_INVALID + (type - TWTYPE_INVALID));
  if (type >= TWSTREAMFMT_BLOB && type <= TWSTREAMFMT_DATETIME_LIST)
    return CatalogueText(TWMSG_STREAMFMT_BLOB + (type - TWSTREAMFMT_BLOB));
  return {};
}

std::string ObjectKindName(uint32_t kind) {
  if (kind >= TWOBJECT_SERVER && kind <= TWOBJECT_FIELD)
    return CatalogueText(TWMSG_OBJECT_SERVER + (kind - TWOBJECT_SERVER));
  return {};
}

std::string CatalogueText(uint32_t id) {
  return tw::message_text(id & ~static_cast<uint32_t>(TWSTATUSF_EVENT));
}

}  // namespace tw::engine
