// The property table every connector plug-in keeps (static library twxkit), and the key-term
// operator rule.
//
// A connector writes one table of Property rows: each names the token, the row's type and name
// for the definition table the engine reads, how the value is kept and where it lives, its
// default, its limits, an optional hook run after each set and the name its traces give it.
// DefinitionRows() / DefinitionTable() build the TWXPropertyDef rows from it at compile time,
// FindProperty with SetProperty / GetProperty (or DispatchSet / DispatchGet) serve
// TWXSetProperty / TWXGetProperty from the same table, and ApplyDefaults sets every default,
// so no token is written twice and no switch repeats them.
//
// Thread rules: none of their own; a context is used by one thread at a time.
#ifndef TW_LINK_TWX_PROPS_H_
#define TW_LINK_TWX_PROPS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>

#include "twx.h"

namespace tw::twx {

// How a property's value is kept and moved in and out of fields:
//   kText      a TWStream; set by TWFieldGetStream in the context's text format (failure or
//              null: the stream is freed, the property is empty); get by TWFieldSetStream.
//   kList      as kText in format TWSTREAMFMT_TEXT_LIST (FIELD_LIST, ORDER_LIST).
//   kString    an owned native text (std::string); set by TWFieldGetStream in
//              TWSTREAMFMT_NATIVE (failure or null: empty); get by TWFieldSetStream.
//   kInt       an int32_t; set by TWFieldGetInt (failure or null: 0); get by TWFieldSetInt.
//              A row without a slot is a constant: get gives its default, set is refused.
//   kFlag      an int32_t 0 or 1; set only by a successful non-null read (non-zero gives 1),
//              otherwise the old value stays; get as kInt.
//   kDatetime  a TWDatetime; set by TWFieldGetDatetime (failure or null: TWDatetimeClear);
//              get by TWFieldSetDatetime, a never-set (all-zero) value given with Julian day
//              and ticks -1.
enum class PropertyKind : uint8_t { kText, kList, kString, kInt, kFlag, kDatetime };

// Which of the two calls serve a property.
enum PropertyAccess : uint8_t { kGet = 1, kSet = 2, kGetSet = 3 };

// What a row holds, whoever owns the table. Build rows with TextProperty() and its companions;
// the modifiers return a changed copy. Exactly one slot is set, matching kind (none for a
// constant).
//   token        a predefined token (TWTOKEN_*) or an own token 1 to TWMAX_BASE_TOKEN; no link
//                byte.
//   type         the TWTYPE_* of the definition row (by default the kind's: TEXT, BINARY for
//                lists, INT, DATETIME).
//   name         an own property's name; null for a predefined token.
//   traceName    how the connector's trace lines name the property (null: not traced).
//   listed       false: served but without a row in the definition table.
//   keepOnNull   kString and kInt: a null or unreadable value leaves the old value.
//   defaultWord  kInt and kFlag: the value ApplyDefaults sets (a constant's value).
//   defaultText  kText, kList and kString: the text ApplyDefaults sets (null: empty).
//   least, most  kInt: the values a set accepts; kString: the lengths it accepts. A value
//                outside is refused with TWFAIL_PROPERTY_VALUE and the old value stays.
template <class Props>
struct PropertyRow {
  uint32_t token = 0;
  uint32_t type = 0;
  const char* name = nullptr;
  const char* traceName = nullptr;
  PropertyKind kind = PropertyKind::kText;
  uint8_t access = kGetSet;
  bool listed = true;
  bool keepOnNull = false;
  TWStream Props::*stream = nullptr;
  std::string Props::*text = nullptr;
  int32_t Props::*word = nullptr;
  TWDatetime Props::*datetime = nullptr;
  int32_t defaultWord = 0;
  const char* defaultText = nullptr;
  int32_t least = std::numeric_limits<int32_t>::min();
  int32_t most = std::numeric_limits<int32_t>::max();

  // A copy with one member changed.
  template <class T, class V>
  constexpr PropertyRow With(T PropertyRow::*member, V value) const {
    PropertyRow row = *this;
    row.*member = value;
    return row;
  }
  constexpr PropertyRow WithType(uint32_t rowType) const {
    return With(&PropertyRow::type, rowType);
  }
  constexpr PropertyRow GetOnly() const { return With(&PropertyRow::access, uint8_t{kGet}); }
  constexpr PropertyRow SetOnly() const { return With(&PropertyRow::access, uint8_t{kSet}); }
  constexpr PropertyRow Unlisted() const { return With(&PropertyRow::listed, false); }
  constexpr PropertyRow KeepOnNull() const { return With(&PropertyRow::keepOnNull, true); }
  constexpr PropertyRow Traced(const char* as) const { return With(&PropertyRow::traceName, as); }
  constexpr PropertyRow Default(int32_t value) const {
    return With(&PropertyRow::defaultWord, value);
  }
  constexpr PropertyRow Default(const char* value) const {
    return With(&PropertyRow::defaultText, value);
  }
  constexpr PropertyRow Limits(int32_t low, int32_t high) const {
    return With(&PropertyRow::least, low).With(&PropertyRow::most, high);
  }
  // The row with a hook run after each set (see Property::onSet); the owner is the hook's.
  // It comes last: a modifier applied to its result would give a row without the hook.
  template <class Owner>
  constexpr auto OnSet(uint32_t (*hook)(Owner& owner, bool assigned)) const;
};

// A row of the table of a connector whose connection is an Owner keeping its values in a
// Props (often the same type).
//   onSet  runs after each set that reached the row and passed its limits, whatever the value;
//          assigned is false when the field was null or unreadable (the kind's rule then
//          emptied, zeroed or kept the value). Its non-zero answer is the set's.
template <class Props, class Owner = Props>
struct Property : PropertyRow<Props> {
  using Hook = uint32_t (*)(Owner& owner, bool assigned);
  Hook onSet = nullptr;

  constexpr Property() = default;
  // Not explicit: a table lists rows with and without a hook alike.
  constexpr Property(const PropertyRow<Props>& row, Hook hook = nullptr)
      : PropertyRow<Props>(row), onSet(hook) {}
};

template <class Props>
template <class Owner>
constexpr auto PropertyRow<Props>::OnSet(uint32_t (*hook)(Owner& owner, bool assigned)) const {
  return Property<Props, Owner>(*this, hook);
}

// A row of kind keeping its value in slot, its definition row of type.
template <class Props, class Slot>
constexpr PropertyRow<Props> MakeRow(uint32_t token, uint32_t type, PropertyKind kind,
                                     Slot Props::*slot, const char* name) {
  PropertyRow<Props> row;
  row.token = token;
  row.type = type;
  row.kind = kind;
  row.name = name;
  if constexpr (std::is_same_v<Slot, TWStream>) row.stream = slot;
  if constexpr (std::is_same_v<Slot, std::string>) row.text = slot;
  if constexpr (std::is_same_v<Slot, int32_t>) row.word = slot;
  if constexpr (std::is_same_v<Slot, TWDatetime>) row.datetime = slot;
  return row;
}

// The row builders, one per kind with its definition row's type: TextProperty(token,
// &Props::member, name) and so on; name only for an own token.
template <PropertyKind kKind, class Slot, uint32_t kType>
struct RowBuilder {
  template <class P>
  constexpr PropertyRow<P> operator()(uint32_t token, Slot P::*slot,
                                      const char* name = nullptr) const {
    return MakeRow(token, kType, kKind, slot, name);
  }
};
inline constexpr RowBuilder<PropertyKind::kText, TWStream, TWTYPE_TEXT> TextProperty{};
inline constexpr RowBuilder<PropertyKind::kList, TWStream, TWTYPE_BINARY> ListProperty{};
inline constexpr RowBuilder<PropertyKind::kString, std::string, TWTYPE_TEXT> StringProperty{};
inline constexpr RowBuilder<PropertyKind::kInt, int32_t, TWTYPE_INT> IntProperty{};
inline constexpr RowBuilder<PropertyKind::kFlag, int32_t, TWTYPE_INT> FlagProperty{};
inline constexpr RowBuilder<PropertyKind::kDatetime, TWDatetime, TWTYPE_DATETIME>
    DatetimeProperty{};

// A read-only integer without a slot, such as TEXT_FORMAT: get always gives value.
template <class P>
constexpr PropertyRow<P> ConstantProperty(uint32_t token, int32_t value) {
  return IntProperty(token, static_cast<int32_t P::*>(nullptr)).Default(value).GetOnly();
}

// The definition rows of the listed entries, in table order, then zero rows: N + 1 rows, the
// first all-zero row ending the table. Use it for a namespace-scope constexpr array whose
// data() goes into the identity record.
template <class P, class O, size_t N>
constexpr std::array<TWXPropertyDef, N + 1> DefinitionTable(const Property<P, O> (&props)[N]) {
  std::array<TWXPropertyDef, N + 1> rows{};
  size_t n = 0;
  for (const Property<P, O>& p : props) {
    if (!p.listed) continue;
    uint32_t length = 0;
    if (p.name != nullptr)
      while (p.name[length] != '\0') ++length;
    rows[n++] = TWXPropertyDef{p.token, p.type, 0u, p.name, length};
  }
  return rows;
}

// The same rows for a table with static storage, sized exactly: its listed rows and the end
// row, whatever rows it serves without listing them.
template <const auto& kTable>
constexpr auto DefinitionRows() {
  constexpr size_t kListed = [] {
    size_t n = 0;
    for (const auto& p : kTable) n += p.listed ? 1 : 0;
    return n;
  }();
  const auto all = DefinitionTable(kTable);
  std::array<TWXPropertyDef, kListed + 1> rows{};
  for (size_t i = 0; i < kListed; ++i) rows[i] = all[i];
  return rows;
}

// The entry serving token for access (kGet or kSet), or null. TWTOKEN_TEXT_FORMAT is read
// only whatever its entry says, and a constant is never set: a set never finds them.
template <class P, class O>
constexpr const Property<P, O>* FindProperty(const Property<P, O>* props, size_t count,
                                             uint32_t token, PropertyAccess access) {
  if (access == kSet && token == TWTOKEN_TEXT_FORMAT) return nullptr;
  for (size_t i = 0; i < count; ++i)
    if (props[i].token == token && (props[i].access & access) != 0) return &props[i];
  return nullptr;
}
template <class P, class O, size_t N>
constexpr const Property<P, O>* FindProperty(const Property<P, O> (&props)[N], uint32_t token,
                                             PropertyAccess access) {
  return FindProperty(props, N, token, access);
}

// ---- the rules by kind, on one slot

// What storing a field's value did: the status of the field read, whether the field gave a
// value, and whether the value was refused by the row's limits (nothing stored).
struct Stored {
  uint32_t read = TWSUCCESS;
  bool assigned = false;
  bool refused = false;
};
Stored StoreText(TWStream* slot, TWFIELD src, uint32_t format);
Stored StoreString(std::string* slot, TWFIELD src, bool keepOnNull, int32_t longest);
Stored StoreInt(int32_t* slot, TWFIELD src, bool keepOnNull, int32_t least, int32_t most);
Stored StoreFlag(int32_t* slot, TWFIELD src);
Stored StoreDatetime(TWDatetime* slot, TWFIELD src);
// Value 1 of dest receives the slot's value; answers the engine's status.
[[nodiscard]] uint32_t GiveStream(TWFIELD dest, const TWStream* slot);
[[nodiscard]] uint32_t GiveString(TWFIELD dest, std::string_view text);
[[nodiscard]] uint32_t GiveInt(TWFIELD dest, int32_t value);
[[nodiscard]] uint32_t GiveDatetime(TWFIELD dest, const TWDatetime* slot);
// The default text of a stream slot (null: the stream is freed).
void ResetText(TWStream* slot, const char* text);

// Logs TWFAIL_INVALID_PROPERTY naming token (TWActivityLogEx(12555, token, 0, 0, null, null,
// null)) and answers it.
[[nodiscard]] uint32_t InvalidProperty(uint32_t token);
// Logs TWFAIL_PROPERTY_VALUE naming token and answers it.
[[nodiscard]] uint32_t InvalidValue(uint32_t token);

// Stores value 1 of src as row's property of props, then runs the row's hook on owner. Text
// is taken in textFormat (the context's TEXT_FORMAT value), lists as TWSTREAMFMT_TEXT_LIST.
// Answers 0, TWFAIL_PROPERTY_VALUE (logged) for a value outside the row's limits, or the
// hook's status. A field that cannot be read is not an error here (the kind's rule applies);
// *read (optional) receives the status of that read for a connector that answers it.
template <class P, class O>
[[nodiscard]] uint32_t SetProperty(const Property<P, O>& row, O& owner, P& props, TWFIELD src,
                                   uint32_t textFormat, uint32_t* read = nullptr) {
  Stored stored;
  switch (row.kind) {
    case PropertyKind::kText:
    case PropertyKind::kList:
      stored = StoreText(&(props.*row.stream), src,
                         row.kind == PropertyKind::kList ? TWSTREAMFMT_TEXT_LIST : textFormat);
      break;
    case PropertyKind::kString:
      stored = StoreString(&(props.*row.text), src, row.keepOnNull, row.most);
      break;
    case PropertyKind::kInt:
      if (row.word == nullptr) return InvalidProperty(row.token);
      stored = StoreInt(&(props.*row.word), src, row.keepOnNull, row.least, row.most);
      break;
    case PropertyKind::kFlag:
      stored = StoreFlag(&(props.*row.word), src);
      break;
    case PropertyKind::kDatetime:
      stored = StoreDatetime(&(props.*row.datetime), src);
      break;
  }
  if (read != nullptr) *read = stored.read;
  if (stored.refused) return InvalidValue(row.token);
  return row.onSet != nullptr ? row.onSet(owner, stored.assigned) : TWSUCCESS;
}

// Value 1 of dest receives row's property of props; answers the engine's status.
template <class P, class O>
[[nodiscard]] uint32_t GetProperty(const Property<P, O>& row, const P& props, TWFIELD dest) {
  switch (row.kind) {
    case PropertyKind::kText:
    case PropertyKind::kList:
      return GiveStream(dest, &(props.*row.stream));
    case PropertyKind::kString:
      return GiveString(dest, props.*row.text);
    case PropertyKind::kInt:
    case PropertyKind::kFlag:
      return GiveInt(dest, row.word != nullptr ? props.*row.word : row.defaultWord);
    case PropertyKind::kDatetime:
      return GiveDatetime(dest, &(props.*row.datetime));
  }
  return TWFAIL_PROGRAM;
}

// TWXSetProperty's dispatch for a table whose owner keeps its own values: finds token among
// props and stores the value (0, or the row's limit or hook status), or logs and answers 12555
// for a token the table does not serve for a set. *found (optional) receives the entry, null
// when unknown, so the connector can run its follow-ups. A null ctx: TWFAIL_NULL_BUFFER.
template <class Ctx, size_t N>
[[nodiscard]] uint32_t DispatchSet(const Property<Ctx> (&props)[N], Ctx* ctx, uint32_t token,
                                   TWFIELD src, uint32_t textFormat,
                                   const Property<Ctx>** found = nullptr) {
  if (found != nullptr) *found = nullptr;
  if (ctx == nullptr) return TWFAIL_NULL_BUFFER;
  const Property<Ctx>* entry = FindProperty(props, token, kSet);
  if (entry == nullptr) return InvalidProperty(token);
  if (found != nullptr) *found = entry;
  return SetProperty(*entry, *ctx, *ctx, src, textFormat);
}

// TWXGetProperty's dispatch: the value into value 1 of dest (the engine's status), or 12555
// logged for a token the table does not serve for a get. *found as for DispatchSet.
template <class Ctx, size_t N>
[[nodiscard]] uint32_t DispatchGet(const Property<Ctx> (&props)[N], const Ctx* ctx, uint32_t token,
                                   TWFIELD dest, const Property<Ctx>** found = nullptr) {
  if (found != nullptr) *found = nullptr;
  if (ctx == nullptr) return TWFAIL_NULL_BUFFER;
  const Property<Ctx>* entry = FindProperty(props, token, kGet);
  if (entry == nullptr) return InvalidProperty(token);
  if (found != nullptr) *found = entry;
  return GetProperty(*entry, *ctx, dest);
}

// Sets every property of props to its row's default (TWXInitialize).
template <class P, class O, size_t N>
void ApplyDefaults(const Property<P, O> (&rows)[N], P& props) {
  for (const Property<P, O>& p : rows) {
    if (p.stream != nullptr) ResetText(&(props.*p.stream), p.defaultText);
    if (p.text != nullptr) props.*p.text = p.defaultText != nullptr ? p.defaultText : "";
    if (p.word != nullptr) props.*p.word = p.defaultWord;
    if (p.datetime != nullptr) TWDatetimeClear(&(props.*p.datetime));
  }
}

// Frees the data of every text and list property of props (TWStreamDataFree), for
// TWXTerminate.
template <class P, class O, size_t N>
void ReleaseProperties(const Property<P, O> (&rows)[N], P& props) {
  for (const Property<P, O>& p : rows)
    if (p.stream != nullptr) TWStreamDataFree(&(props.*p.stream));
}

// ---- key terms

// Which of KEY_GT and KEY_LT decides when both are set: the contract's rule (KEY_GT), or the
// ODBC connector's (KEY_LT first when KEY_NE is set).
enum class KeyOrder : uint8_t { kGreaterFirst, kLessFirstWhenNotEqual };

// The comparison operator of a key field by its flags (TWFieldGetFlags): "=" with none of
// KEY_GT, KEY_LT, KEY_NE; ">=" for KEY_GT (with or without KEY_LT); "<=" for KEY_LT alone; ">"
// and "<" when KEY_NE joins them; "<>" for KEY_NE alone. Empty for a field without
// TWFIELDF_KEY, which makes no term.
std::string_view KeyOperator(uint32_t flags, KeyOrder order = KeyOrder::kGreaterFirst);

// Called for each key term: the field, its entry number in the list, its name (in the format
// asked for) and its operator. A non-zero answer stops the walk and is answered.
using KeyTermFn = uint32_t (*)(void* user, TWFIELD field, uint32_t index, const TWStream& name,
                               std::string_view op);

// Walks the fields of list in order and calls term for each one flagged TWFIELDF_KEY. Answers
// 0, the engine's status of a failed field or name read, or term's first non-zero answer.
[[nodiscard]] uint32_t ForEachKeyTerm(TWFIELDLIST list, uint32_t nameFormat, KeyTermFn term,
                                      void* user, KeyOrder order = KeyOrder::kGreaterFirst);

// As above with any callable taking (TWFIELD, uint32_t, const TWStream&, std::string_view)
// and answering a status.
template <class F>
[[nodiscard]] uint32_t ForEachKeyTerm(TWFIELDLIST list, uint32_t nameFormat, F&& term,
                                      KeyOrder order = KeyOrder::kGreaterFirst) {
  auto thunk = [](void* user, TWFIELD field, uint32_t index, const TWStream& name,
                  std::string_view op) -> uint32_t {
    return (*static_cast<std::remove_reference_t<F>*>(user))(field, index, name, op);
  };
  return ForEachKeyTerm(list, nameFormat, +thunk, &term, order);
}

}  // namespace tw::twx

#endif  // TW_LINK_TWX_PROPS_H_
