// sqlprobe's driver report: the SQLGetInfo items, the functions and the native data types
// that the relational connector relies on, each item with its own printed text.
#ifndef TW_PROBES_SQLPROBE_REPORT_H_
#define TW_PROBES_SQLPROBE_REPORT_H_

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tw::sqlprobe {

// What SQLGetInfo gave for one item: text (cut to the item's buffer), the length the driver
// reported for it, or a 16-bit number, or a 32-bit mask.
struct InfoValue {
  std::string_view text;
  SQLSMALLINT driverLength = 0;
  uint16_t number = 0;
  uint32_t mask = 0;
};

enum class InfoKind { kText, kNumber, kMask };

using InfoPrinter = std::string (*)(const char* label, const InfoValue& value);

struct InfoItem {
  SQLUSMALLINT type;  // SQLGetInfo's information type
  InfoKind kind;
  SQLSMALLINT size;  // the text buffer's bytes, terminator included (texts only)
  const char* label;
  InfoPrinter print;
};

// The sixteen items in report order.
std::span<const InfoItem> InfoItems();

// The printers, one per kind of text.
std::string PrintText(const char* label, const InfoValue& value);
std::string PrintNumber(const char* label, const InfoValue& value);
std::string PrintConformance(const char* label, const InfoValue& value);
std::string PrintKeywords(const char* label, const InfoValue& value);
std::string PrintPositioned(const char* label, const InfoValue& value);
std::string PrintOrderBy(const char* label, const InfoValue& value);
std::string PrintNonNullable(const char* label, const InfoValue& value);

// The keyword list's buffer: a driver length that reaches it means the list was cut.
inline constexpr SQLSMALLINT kKeywordsSize = 1024;

struct FunctionCheck {
  SQLUSMALLINT function;
  const char* name;
};
std::span<const FunctionCheck> FunctionChecks();
// "<name padded to 19> is supported\n" or the NOT supported line.
std::string PrintFunction(const char* name, bool supported);

struct TypeCheck {
  SQLSMALLINT type;
  const char* name;
};
std::span<const TypeCheck> TypeChecks();
// The line of a type the driver does not know: its name alone.
std::string PrintTypeMissing(const char* name);
// The line of a type the driver knows: its name for it and whether it takes nulls.
std::string PrintType(const char* name, std::string_view driverName, SQLINTEGER nullable);

}  // namespace tw::sqlprobe

#endif  // TW_PROBES_SQLPROBE_REPORT_H_
