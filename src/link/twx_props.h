// Helpers every connector plug-in shares (static library twxkit): property dispatch over the
// connector's one property table, the key-term operator rule, and the TWXIdentify copy.
//
// A connector writes one table of Property entries: each names the token, the row's type and
// name for the definition table the engine reads, how the value is kept and where it lives in
// the connector context. DefinitionTable() builds the TWXPropertyDef rows from it at compile
// time, and DispatchSet / DispatchGet serve TWXSetProperty / TWXGetProperty from the same
// table, so no token is written twice.
//
// Thread rules: none of their own; a context is used by one thread at a time.
#ifndef TW_LINK_TWX_PROPS_H_
#define TW_LINK_TWX_PROPS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "twx.h"

namespace tw::twx {

// How a property's value is kept in the context and moved in and out of fields:
//   kText      a TWStream; set by TWFieldGetStream in the context's text format (failure or
//              null: the stream is freed, the property is empty); get by TWFieldSetStream.
//   kList      as kText in format TWSTREAMFMT_TEXT_LIST (FIELD_LIST, ORDER_LIST).
//   kInt       an int32_t; set by TWFieldGetInt (failure or null: 0); get by TWFieldSetInt.
//   kFlag      an int32_t 0 or 1; set only by a successful non-null read (non-zero gives 1),
//              otherwise the old value stays; get as kInt.
//   kDatetime  a TWDatetime; set by TWFieldGetDatetime (failure or null: TWDatetimeClear);
//              get by TWFieldSetDatetime, a never-set (all-zero) value given with Julian day
//              and ticks -1.
enum class PropertyKind : uint8_t { kText, kList, kInt, kFlag, kDatetime };

// Which of the two calls serve a property.
enum PropertyAccess : uint8_t { kGet = 1, kSet = 2, kGetSet = 3 };

// One property of a connector. Exactly one of stream, word and datetime is set, matching
// kind. Build entries with TextProperty() and its companions; the modifiers return a copy.
//   token   a predefined token (TWTOKEN_*) or an own token 1 to TWMAX_BASE_TOKEN; no link
//           byte.
//   type    the TWTYPE_* of the definition row (by default the kind's: TEXT, BINARY for
//           lists, INT, DATETIME).
//   name    an own property's name; null for a predefined token.
//   listed  false: served but without a row in the definition table.
template <class Ctx>
struct Property {
  uint32_t token = 0;
  uint32_t type = 0;
  const char* name = nullptr;
  PropertyKind kind = PropertyKind::kText;
  uint8_t access = kGetSet;
  bool listed = true;
  TWStream Ctx::*stream = nullptr;
  int32_t Ctx::*word = nullptr;
  TWDatetime Ctx::*datetime = nullptr;

  constexpr Property WithType(uint32_t rowType) const {
    Property p = *this;
    p.type = rowType;
    return p;
  }
  constexpr Property GetOnly() const {
    Property p = *this;
    p.access = kGet;
    return p;
  }
  constexpr Property SetOnly() const {
    Property p = *this;
    p.access = kSet;
    return p;
  }
  constexpr Property Unlisted() const {
    Property p = *this;
    p.listed = false;
    return p;
  }
};

template <class Ctx>
constexpr Property<Ctx> TextProperty(uint32_t token, TWStream Ctx::*slot,
                                     const char* name = nullptr) {
  Property<Ctx> p;
  p.token = token;
  p.type = TWTYPE_TEXT;
  p.name = name;
  p.kind = PropertyKind::kText;
  p.stream = slot;
  return p;
}
template <class Ctx>
constexpr Property<Ctx> ListProperty(uint32_t token, TWStream Ctx::*slot,
                                     const char* name = nullptr) {
  Property<Ctx> p = TextProperty(token, slot, name);
  p.type = TWTYPE_BINARY;
  p.kind = PropertyKind::kList;
  return p;
}
template <class Ctx>
constexpr Property<Ctx> IntProperty(uint32_t token, int32_t Ctx::*slot,
                                    const char* name = nullptr) {
  Property<Ctx> p;
  p.token = token;
  p.type = TWTYPE_INT;
  p.name = name;
  p.kind = PropertyKind::kInt;
  p.word = slot;
  return p;
}
template <class Ctx>
constexpr Property<Ctx> FlagProperty(uint32_t token, int32_t Ctx::*slot,
                                     const char* name = nullptr) {
  Property<Ctx> p = IntProperty(token, slot, name);
  p.kind = PropertyKind::kFlag;
  return p;
}
template <class Ctx>
constexpr Property<Ctx> DatetimeProperty(uint32_t token, TWDatetime Ctx::*slot,
                                         const char* name = nullptr) {
  Property<Ctx> p;
  p.token = token;
  p.type = TWTYPE_DATETIME;
  p.name = name;
  p.kind = PropertyKind::kDatetime;
  p.datetime = slot;
  return p;
}

// The definition rows of the listed entries, in table order, then zero rows: N + 1 rows, the
// first all-zero row ending the table. Use it for a namespace-scope constexpr array whose
// data() goes into the identity record.
template <class Ctx, size_t N>
constexpr std::array<TWXPropertyDef, N + 1> DefinitionTable(const Property<Ctx> (&props)[N]) {
  std::array<TWXPropertyDef, N + 1> rows{};
  size_t n = 0;
  for (const Property<Ctx>& p : props) {
    if (!p.listed) continue;
    uint32_t length = 0;
    if (p.name != nullptr)
      while (p.name[length] != '\0') ++length;
    rows[n++] = TWXPropertyDef{p.token, p.type, 0u, p.name, length};
  }
  return rows;
}

// The entry serving token for access (kGet or kSet), or null. TWTOKEN_TEXT_FORMAT is read
// only whatever its entry says: a set never finds it.
template <class Ctx>
constexpr const Property<Ctx>* FindProperty(const Property<Ctx>* props, size_t count,
                                            uint32_t token, PropertyAccess access) {
  if (access == kSet && token == TWTOKEN_TEXT_FORMAT) return nullptr;
  for (size_t i = 0; i < count; ++i)
    if (props[i].token == token && (props[i].access & access) != 0) return &props[i];
  return nullptr;
}

// ---- the rules by kind, on one slot (the status of the field read is not answered)
void StoreText(TWStream* slot, TWFIELD src, uint32_t format);
void StoreInt(int32_t* slot, TWFIELD src);
void StoreFlag(int32_t* slot, TWFIELD src);
void StoreDatetime(TWDatetime* slot, TWFIELD src);
// Value 1 of dest receives the slot's value; answers the engine's status.
uint32_t GiveStream(TWFIELD dest, const TWStream* slot);
uint32_t GiveInt(TWFIELD dest, int32_t value);
uint32_t GiveDatetime(TWFIELD dest, const TWDatetime* slot);

// Logs TWFAIL_INVALID_PROPERTY naming token (TWActivityLogEx(12555, token, 0, 0, null, null,
// null)) and answers it.
uint32_t InvalidProperty(uint32_t token);

// Stores value 1 of src as entry's property of ctx. Text is taken in textFormat (the
// context's TEXT_FORMAT value), lists as TWSTREAMFMT_TEXT_LIST.
template <class Ctx>
void SetProperty(const Property<Ctx>& entry, Ctx& ctx, TWFIELD src, uint32_t textFormat) {
  switch (entry.kind) {
    case PropertyKind::kText:
      StoreText(&(ctx.*entry.stream), src, textFormat);
      break;
    case PropertyKind::kList:
      StoreText(&(ctx.*entry.stream), src, TWSTREAMFMT_TEXT_LIST);
      break;
    case PropertyKind::kInt:
      StoreInt(&(ctx.*entry.word), src);
      break;
    case PropertyKind::kFlag:
      StoreFlag(&(ctx.*entry.word), src);
      break;
    case PropertyKind::kDatetime:
      StoreDatetime(&(ctx.*entry.datetime), src);
      break;
  }
}

// Value 1 of dest receives entry's property of ctx; answers the engine's status.
template <class Ctx>
uint32_t GetProperty(const Property<Ctx>& entry, const Ctx& ctx, TWFIELD dest) {
  switch (entry.kind) {
    case PropertyKind::kText:
    case PropertyKind::kList:
      return GiveStream(dest, &(ctx.*entry.stream));
    case PropertyKind::kInt:
    case PropertyKind::kFlag:
      return GiveInt(dest, ctx.*entry.word);
    case PropertyKind::kDatetime:
      return GiveDatetime(dest, &(ctx.*entry.datetime));
  }
  return TWFAIL_PROGRAM;
}

// TWXSetProperty's dispatch: finds token among props and stores the value (0), or logs and
// answers 12555 for a token the table does not serve for a set. *found (optional) receives
// the entry, null when unknown, so the connector can run its follow-ups. A null ctx:
// TWFAIL_NULL_BUFFER.
template <class Ctx, size_t N>
uint32_t DispatchSet(const Property<Ctx> (&props)[N], Ctx* ctx, uint32_t token, TWFIELD src,
                     uint32_t textFormat, const Property<Ctx>** found = nullptr) {
  if (found != nullptr) *found = nullptr;
  if (ctx == nullptr) return TWFAIL_NULL_BUFFER;
  const Property<Ctx>* entry = FindProperty(props, N, token, kSet);
  if (entry == nullptr) return InvalidProperty(token);
  SetProperty(*entry, *ctx, src, textFormat);
  if (found != nullptr) *found = entry;
  return TWSUCCESS;
}

// TWXGetProperty's dispatch: the value into value 1 of dest (the engine's status), or 12555
// logged for a token the table does not serve for a get. *found as for DispatchSet.
template <class Ctx, size_t N>
uint32_t DispatchGet(const Property<Ctx> (&props)[N], const Ctx* ctx, uint32_t token, TWFIELD dest,
                     const Property<Ctx>** found = nullptr) {
  if (found != nullptr) *found = nullptr;
  if (ctx == nullptr) return TWFAIL_NULL_BUFFER;
  const Property<Ctx>* entry = FindProperty(props, N, token, kGet);
  if (entry == nullptr) return InvalidProperty(token);
  if (found != nullptr) *found = entry;
  return GetProperty(*entry, *ctx, dest);
}

// Frees the data of every text and list property of ctx (TWStreamDataFree), for
// TWXTerminate.
template <class Ctx, size_t N>
void ReleaseProperties(const Property<Ctx> (&props)[N], Ctx& ctx) {
  for (const Property<Ctx>& p : props)
    if (p.stream != nullptr) TWStreamDataFree(&(ctx.*p.stream));
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
uint32_t ForEachKeyTerm(TWFIELDLIST list, uint32_t nameFormat, KeyTermFn term, void* user,
                        KeyOrder order = KeyOrder::kGreaterFirst);

// As above with any callable taking (TWFIELD, uint32_t, const TWStream&, std::string_view)
// and answering a status.
template <class F>
uint32_t ForEachKeyTerm(TWFIELDLIST list, uint32_t nameFormat, F&& term,
                        KeyOrder order = KeyOrder::kGreaterFirst) {
  auto thunk = [](void* user, TWFIELD field, uint32_t index, const TWStream& name,
                  std::string_view op) -> uint32_t {
    return (*static_cast<std::remove_reference_t<F>*>(user))(field, index, name, op);
  };
  return ForEachKeyTerm(list, nameFormat, +thunk, &term, order);
}

// ---- identity

// TWXIdentify's body: copies identity into *out and answers 0; a null out answers
// TWFAIL_NULL_RESULT.
uint32_t Identify(const TWXIdentity& identity, TWXIdentity* out) noexcept;

}  // namespace tw::twx

#endif  // TW_LINK_TWX_PROPS_H_
