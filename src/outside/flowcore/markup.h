// Expansion of the catalogue's markup ([[TWSn]], [[TWIn]], [[TWPn]], [[TWTn]], [[TWOn]], the
// detail mark [[TWX]] and the optional segments [[TWX(]] ... [[TWX)]]) into plain text.
// Pure: the property names come from the caller's function, the words from the catalogue.
#ifndef TW_FLOWCORE_MARKUP_H_
#define TW_FLOWCORE_MARKUP_H_

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tw::engine {

// The arguments of one log entry: integers 1 to 3 and texts 1 to 3 (no value: absent).
struct MarkupArgs {
  std::array<uint32_t, 3> ints{};
  std::array<std::optional<std::string>, 3> streams{};
};

// Names a property token for [[TWPn]] (never called with 0).
using PropertyNamer = std::function<std::string(uint32_t token)>;

// text with every markup filled from args; unknown [[...]] marks are copied as they are.
std::string ExpandMarkup(std::string_view text, const MarkupArgs& args,
                         const PropertyNamer& propertyName);

// The word of a field type (TWTYPE_* 0 to 7, list formats 0x40000001 to 0x40000005) and of
// an object kind (TWOBJECT_* 1 to 5); empty for any other value.
std::string TypeName(uint32_t type);
std::string ObjectKindName(uint32_t kind);

// The catalogue text of id without TWSTATUSF_EVENT ("MSG#<id> NOT FOUND" when missing).
std::string CatalogueText(uint32_t id);

}  // namespace tw::engine

#endif  // TW_FLOWCORE_MARKUP_H_
