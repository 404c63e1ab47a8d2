// The engine's five scalar value types, one row each: the name in the typed calls
// (TWFieldGetInt, TWActivitySetPropertyNumeric, TWConnectGetPropertyDatetime, ...), the C
// type and the field type. The typed families of fields, activity properties and connection
// properties are each written once over this list: TW_SCALAR_TYPES(X) expands X(Name, T,
// type) per row.
#ifndef TW_FLOWCORE_SCALAR_TYPES_H_
#define TW_FLOWCORE_SCALAR_TYPES_H_

#include "flowcore.h"

#define TW_SCALAR_TYPES(X)                 \
  X(Int, int32_t, TWTYPE_INT)              \
  X(Float, double, TWTYPE_FLOAT)           \
  X(Currency, TWCurrency, TWTYPE_CURRENCY) \
  X(Numeric, TWNumeric, TWTYPE_NUMERIC)    \
  X(Datetime, TWDatetime, TWTYPE_DATETIME)

#endif  // TW_FLOWCORE_SCALAR_TYPES_H_
