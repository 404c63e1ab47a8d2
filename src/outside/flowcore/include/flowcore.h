/* The engine library flowcore, value families: streams and the text, number and datetime
 * lists held in them, datetimes and their parts, currency, numeric, scalar conversions,
 * fields and field lists. The connection and activity layers build on these.
 *
 * Every function is callable from C and never throws. A function that answers a status
 * returns 0 or a message-catalogue id (twstatus.h); a failing call leaves its outputs as they
 * were, with two exceptions stated where they apply: handle outputs are set to TWNULLHANDLE
 * first, and a conversion that answers TWFAIL_OVERFLOW leaves the value clamped to the
 * nearest limit (callers that allow truncation take it). Functions whose description says
 * "answers" a count, length, flag word or number return that and no status.
 *
 * Common answers: a null record pointer that the call reads gives TWFAIL_NULL_BUFFER, one it
 * writes TWFAIL_NULL_RESULT; a null field handle TWFAIL_INVALID_FIELD, a null field-list
 * handle TWFAIL_INVALID_FIELDLIST; out-parameters documented as optional may be null.
 * Indexes, offsets and record numbers count from 1; 0 gives TWFAIL_ZERO_INDEX (offsets:
 * TWFAIL_ZERO_OFFSET). Lengths and offsets of stream data are in bytes, also for two-byte
 * text (format 0xA0).
 *
 * Ownership: the caller owns the value records (TWStream, TWDatetime, TWDatetimeParts,
 * TWCurrency, TWNumeric) and the data block a stream record owns; it frees stream data with
 * TWStreamDataFree on every path. Fields and field lists are engine objects: TWFieldAlloc /
 * TWFieldFree, TWFieldlistAlloc / TWFieldlistFree; a field that belongs to a list is the
 * list's and is never freed alone.
 *
 * Text: the native format (0xFFFF) and QMBCS (0x100) are UTF-8, format 0xA0 is two-byte text
 * (UTF-16, little-endian); other character sets are converted through iconv. Dates and times
 * are written and read in the international formats of the platform layer
 * (TWPlatGetIntlFormat, or its defaults when none is installed); numbers always use "." as
 * the decimal point and no thousands separators when written.
 *
 * Thread rules: a handle or record is used by one thread at a time; different ones may be
 * used on different threads at once. The value functions need neither TWSystemInit nor a
 * current activity. */
#ifndef TW_FLOWCORE_FLOWCORE_H_
#define TW_FLOWCORE_FLOWCORE_H_

#include <stddef.h>
#include <stdint.h>

#include "twconst.h"

/* Flags of the engine's own beyond the public constants (which scripts see as they are):
 * a datetime field that holds whole seconds or tenths (TWFieldSetFormatDatetime), and a
 * comparison of two values as the coarser of their two fields' formats holds them
 * (TWFieldCompare). */
#define TWDATETIMEF_SECOND 0x4
#define TWDATETIMEF_TENTH 0x8
#define TWCOMPAREF_FORMAT 0x100
#include "twstatus.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifndef TW_API
#define TW_API __attribute__((visibility("default")))
#endif

/* ---------------------------------------------------------------- handles ----------- */

/* Engine objects, known to callers only by handle; TWNULLHANDLE (0) names none. Connections
 * and activities belong to the next layer and only their handle types are declared here. */
typedef struct TWFieldImpl* TWFIELD;
typedef struct TWFieldlistImpl* TWFIELDLIST;
typedef struct TWConnectImpl* TWCONNECT;
typedef struct TWActivityImpl* TWACTIVITY;

/* ---------------------------------------------------------------- value records ----- */

/* A variable-length value: text in a character set or binary data, by its format
 * (TWSTREAMFMT_*). 24 bytes, no padding.
 *   maxLength  the capacity in bytes; 0 = unbounded. A whole value written into a stream
 *              with a capacity is cut to it with TWSTREAMF_TRUNCATE, else TWFAIL_OVERFLOW.
 *   flags      TWSTREAMF_* in the low byte; bits 24 to 31 are the engine's own (it marks
 *              there a block it does not own or one it keeps for a fixed stream) and are
 *              neither answered by TWStreamDataGetFlags nor changed by TWStreamDataSetFlags.
 *   format     TWSTREAMFMT_* of the data.
 *   length     bytes of data, not counting the terminator.
 *   data       the data; may be null when length is 0. Blocks the engine allocates always
 *              hold two zero bytes after the data, so text can be read as a C string.
 * Clear or create a record before its first use; free its data after the last. */
typedef struct TWStream {
  uint32_t maxLength;
  uint32_t flags;
  uint32_t format;
  uint32_t length;
  void* data;
} TWStream;

/* A date and a time of day, each separately null, with a time zone. Two little-endian
 * 32-bit words, also the 8-byte form inside datetime lists and the Ordex date-time:
 *   ticks  hundredths of a second since midnight, 0 to 8639999, wall clock of the value's
 *          own zone; 0xFFFFFFFF = null time.
 *   date   bits 0-23: the Julian day number (proleptic Gregorian calendar; 1 January of year
 *          1 is 1721426); 0xFFFFFF = null date. Bits 24-30: the zone, whole hours from UTC,
 *          east positive, as 7-bit two's complement (-12 to 14). Bit 31: daylight saving in
 *          force (the wall clock is one hour ahead of the zone's standard time).
 * A record whose eight bytes are all zero (TWDatetimeClear) reads as null date and null
 * time everywhere; setting one half of it (TWDatetimeSetJulian, TWDatetimeSetTicks) leaves
 * the other half null. */
typedef struct TWDatetime {
  uint32_t ticks;
  uint32_t date;
} TWDatetime;

/* The broken-down form of a TWDatetime: ten 32-bit parts in this order. weekday is 1
 * (Monday) to 7 (Sunday); daylight is 0 or 1; zone is whole hours from UTC, east positive.
 * A null date or time shows as -1 in its parts unless TWPARTSF_NULL_ZERO or
 * TWPARTSF_NULL_MIN says otherwise. As an adjustment (TWDatetimeAdjust) each part is an
 * amount to add. */
typedef struct TWDatetimeParts {
  int32_t year;
  int32_t month;
  int32_t day;
  int32_t weekday;
  int32_t hour;
  int32_t minute;
  int32_t second;
  int32_t hundredth;
  int32_t daylight;
  int32_t zone;
} TWDatetimeParts;

/* Money: a signed count of ten-thousandths (precision 19, scale 4). */
typedef struct TWCurrency {
  int64_t value;
} TWCurrency;

/* A decimal number of at most 88 digits with a scale from -127 to 127: value =
 * (-1)^sign * magnitude * 10^-scale. Twelve 32-bit words:
 *   head           bits 0-7: the scale, 8-bit two's complement; bits 8-15: the declared
 *                  precision (0 = none declared, else 1 to 88); bits 16-30: 0; bit 31: the
 *                  sign (1 = negative; zero is never negative).
 *   magnitude[11]  an unsigned 352-bit binary integer, least significant word first, below
 *                  10^88 (below 10^precision when a precision is declared).
 * The magnitude of the value never exceeds 10^127 (TWMAX_NUMERIC_PVALUE). All words zero
 * (TWNumericClear) is 0 with scale 0 and nothing declared. */
typedef struct TWNumeric {
  uint32_t head;
  uint32_t magnitude[11];
} TWNumeric;

#ifdef __cplusplus
static_assert(sizeof(TWDatetime) == 8 && sizeof(TWDatetimeParts) == 40 && sizeof(TWCurrency) == 8 &&
                  sizeof(TWNumeric) == 48,
              "value records have fixed widths");
static_assert(sizeof(void*) != 8 || sizeof(TWStream) == 24, "stream record without padding");
#else
_Static_assert(sizeof(TWDatetime) == 8 && sizeof(TWDatetimeParts) == 40 &&
                   sizeof(TWCurrency) == 8 && sizeof(TWNumeric) == 48,
               "value records have fixed widths");
_Static_assert(sizeof(void*) != 8 || sizeof(TWStream) == 24, "stream record without padding");
#endif

/* ---------------------------------------------------------------- system ------------ */

/* Starts the engine's process-wide services (plug-in loading, control-store client) for
 * the next layer; called once, first. A second call answers 0 and changes nothing. */
TW_API uint32_t TWSystemInit(void);
/* Ends what TWSystemInit started; called last. Connections still allocated are ended (their
 * final commits with them): answers the first failure of those, else 0, also when the system
 * was never started. */
TW_API uint32_t TWSystemTerm(void);

/* ---------------------------------------------------------------- streams ----------- */

/* Sets every word of the record to 0. Frees nothing: use it on a new record or after
 * TWStreamDataFree. */
TW_API uint32_t TWStreamClear(TWStream* stream);
/* Sets the record to {maxLength, flags, format, 0, null}, freeing nothing. TWSTREAMF_FIXED
 * with maxLength 0: TWFAIL_FIXED_LENGTH; a flag outside TWSTREAMF_*: TWFAIL_INVALID_FLAGS;
 * format 0: TWFAIL_ZERO_FORMAT. */
TW_API uint32_t TWStreamCreate(TWStream* stream, uint32_t maxLength, uint32_t flags,
                               uint32_t format);
/* Releases the record's data and gives it a zero-filled block of requestLength bytes in
 * format, cut to maxLength when that is smaller (not a failure: the grant is shorter).
 * *data and *length (optional) receive the block and the bytes granted. Format 0:
 * TWFAIL_ZERO_FORMAT; TWFAIL_MEMORY. */
TW_API uint32_t TWStreamDataAlloc(TWStream* stream, uint32_t format, uint32_t requestLength,
                                  void** data, uint32_t* length);
/* Changes the length to newLength (cut to maxLength), keeping the leading bytes and
 * zero-filling new ones; data the record does not own is copied first. *data (optional)
 * receives the block. TWFAIL_MEMORY. */
TW_API uint32_t TWStreamDataRealloc(TWStream* stream, uint32_t newLength, void** data);
/* Stores a copy of length bytes in format, replacing the record's data; maxLength and
 * flags stay. Null bytes with a non-zero length: TWFAIL_NULL_BUFFER; format 0:
 * TWFAIL_ZERO_FORMAT; longer than maxLength without TWSTREAMF_TRUNCATE: TWFAIL_OVERFLOW. */
TW_API uint32_t TWStreamDataSet(TWStream* stream, uint32_t format, const void* bytes,
                                uint32_t length);
/* Copies source's data, length and format into target (target's maxLength and flags stay,
 * and their rules apply). A source without data empties target. */
TW_API uint32_t TWStreamDataCopy(TWStream* target, const TWStream* source);
/* Converts source into format and stores the result in target, which may be source itself.
 * Flags: TWCONVERTF_REFERENCE (when no byte changes, target refers to source's data instead
 * of a copy, and is valid only while source's data lives), TWCONVERTF_PRESERVE (target keeps
 * its maxLength and flags and reuses its block; without it both are reset to 0),
 * TWCONVERTF_FORCE_TEXT (a BLOB source is read as native text; without it BLOB data becomes
 * upper-case hexadecimal text). Format 0 keeps source's format. *data and *length
 * (optional) receive target's data and length. Answers TWFAIL_INVALID_CONVERT for a
 * conversion that does not exist, TWFAIL_TEXT_TRANSLATE for a character the target set
 * cannot hold, TWFAIL_INVALID_TEXT_LIST and its companions for a malformed list,
 * TWFAIL_INVALID_STREAM for a malformed composite, TWFAIL_OVERFLOW (see TWStream),
 * TWFAIL_INVALID_FLAGS. */
TW_API uint32_t TWStreamDataConvert(TWStream* target, const TWStream* source, uint32_t flags,
                                    uint32_t format, void** data, uint32_t* length);
/* *result < 0, 0 or > 0 as stream sorts before, with or after base. Text is compared by
 * character, in one common set whatever the sets of the two streams (text that is not valid
 * in its set: TWFAIL_TEXT_TRANSLATE); TWSTREAMF_NO_CASE on either ignores case; binary data
 * compares byte by byte, then by length. */
TW_API uint32_t TWStreamDataCompare(const TWStream* stream, const TWStream* base, int32_t* result);
/* Copies length bytes of source from offset into target in source's format (cut at the end
 * of source). Offset beyond the end + 1: TWFAIL_INVALID_INDEX. */
TW_API uint32_t TWStreamDataExtract(TWStream* target, const TWStream* source, uint32_t offset,
                                    uint32_t length);
/* Points *data at the bytes from offset and sets *length to those available, at most
 * requestLength; copies nothing. Offset beyond the end: TWFAIL_END_OF_DATA. */
TW_API uint32_t TWStreamDataFetch(const TWStream* stream, uint32_t offset, uint32_t requestLength,
                                  void** data, uint32_t* length);
/* Releases the data the record owns (a reference is only forgotten); length 0, data null;
 * maxLength, flags and format stay. A null record answers 0. */
TW_API uint32_t TWStreamDataFree(TWStream* stream);
/* Answers the length; *format and *data (optional) receive the format and the data. A
 * null record answers 0 and sets *data to null. */
TW_API uint32_t TWStreamDataGetBuffer(const TWStream* stream, uint32_t* format, void** data);
/* Answers the TWSTREAMF_* flags; 0 for a null record. */
TW_API uint32_t TWStreamDataGetFlags(const TWStream* stream);
/* Every word of the record; each out-parameter is optional. */
TW_API uint32_t TWStreamDataGetInfo(const TWStream* stream, uint32_t* maxLength, uint32_t* flags,
                                    uint32_t* format, void** data, uint32_t* length);
/* Answers the length in bytes; 0 for a null record. */
TW_API uint32_t TWStreamDataGetLength(const TWStream* stream);
/* target = stream1 with stream2 inserted before offset (offset = length + 1 appends), in
 * stream1's format; text of another set is converted first. target may be either source.
 * Two different binary formats: TWFAIL_INVALID_CONVERT; offset beyond length + 1:
 * TWFAIL_INVALID_INDEX. */
TW_API uint32_t TWStreamDataMerge(TWStream* target, const TWStream* stream1, uint32_t offset,
                                  const TWStream* stream2);
/* Replaces the TWSTREAMF_* flags. Unknown bits: TWFAIL_INVALID_FLAGS; TWSTREAMF_FIXED with
 * maxLength 0: TWFAIL_FIXED_LENGTH. */
TW_API uint32_t TWStreamDataSetFlags(TWStream* stream, uint32_t flags);
/* Drops trailing blanks and zero characters of text; binary data is left alone. */
TW_API uint32_t TWStreamDataTrim(TWStream* stream);

/* ---------------------------------------------------------------- lists in streams -- */

/* A list is read from a stream of its list format, or of TWSTREAMFMT_BLOB holding the same
 * bytes; bytes past the end of the list are ignored. Entries and ranges count from 1.
 *   text list      u16 count n, n u16 entry lengths, then the n entries (QMBCS text) back to
 *                  back without terminators.
 *   number list    u16 value count n, u16 range count r, n doubles, r pairs {low, high}.
 *   datetime list  u16 value count n, u16 range count r, n 8-byte TWDatetime, r pairs.
 * All little-endian; values are not aligned. Another stream answers
 * TWFAIL_INVALID_TEXT_LIST, TWFAIL_INVALID_NUMBER_LIST or TWFAIL_INVALID_DATETIME_LIST, or 0
 * from the functions that answer a number; an entry beyond the end TWFAIL_INVALID_INDEX. */

/* Answers the number of entries. */
TW_API uint32_t TWTextListGetCount(const TWStream* list);
/* Answers the length in bytes of entry index as stored; 0 when there is none. */
TW_API uint32_t TWTextListGetLength(const TWStream* list, uint32_t index);
/* Stores entry index converted to format (0: as stored, QMBCS) in dest, whose maxLength
 * and flags stay; *data and *length (optional) receive dest's data and length. */
TW_API uint32_t TWTextListFetch(const TWStream* list, uint32_t index, uint32_t format,
                                TWStream* dest, void** data, uint32_t* length);

TW_API uint32_t TWNumberListGetCount(const TWStream* list, uint32_t* valueCount,
                                     uint32_t* rangeCount);
/* The first value; a list without values answers TWFAIL_INVALID_INDEX. */
TW_API uint32_t TWNumberListGetFirst(const TWStream* list, double* value);
/* Answers the bytes the list occupies (4 + 8 n + 16 r). */
TW_API uint32_t TWNumberListGetLength(const TWStream* list);
TW_API uint32_t TWNumberListGetRange(const TWStream* list, uint32_t index, double* low,
                                     double* high);
TW_API uint32_t TWNumberListGetValue(const TWStream* list, uint32_t index, double* value);

TW_API uint32_t TWDatetimeListGetCount(const TWStream* list, uint32_t* valueCount,
                                       uint32_t* rangeCount);
/* The first value; a list without values answers TWFAIL_INVALID_INDEX. */
TW_API uint32_t TWDatetimeListGetFirst(const TWStream* list, TWDatetime* value);
/* Answers the bytes the list occupies (4 + 8 n + 16 r). */
TW_API uint32_t TWDatetimeListGetLength(const TWStream* list);
TW_API uint32_t TWDatetimeListGetRange(const TWStream* list, uint32_t index, TWDatetime* low,
                                       TWDatetime* high);
TW_API uint32_t TWDatetimeListGetValue(const TWStream* list, uint32_t index, TWDatetime* value);

/* ---------------------------------------------------------------- scalars and text -- */

/* Text to value: blanks around the text are skipped; a list gives its first entry. Text
 * that is not a value answers TWFAIL_INVALID_INT, _FLOAT, _CURRENCY, _NUMERIC or _DATETIME;
 * a value beyond the type's range TWFAIL_OVERFLOW with the value clamped. Digits beyond
 * the type's scale are rounded half away from zero (an integer drops its fraction). */
TW_API uint32_t TWIntFromStream(int32_t* value, const TWStream* stream);
TW_API uint32_t TWFloatFromStream(double* value, const TWStream* stream);
TW_API uint32_t TWCurrencyFromStream(TWCurrency* value, const TWStream* stream);
/* A numeric with a declared precision keeps it and its scale; one without takes the
 * scale of the text. */
TW_API uint32_t TWNumericFromStream(TWNumeric* value, const TWStream* stream);
/* International date and time text, or ISO 8601 ("1996-11-05 14:07:09.50"); the zone and
 * daylight saving are the machine's. An empty text gives null date and null time. */
TW_API uint32_t TWDatetimeFromStream(TWDatetime* value, const TWStream* stream);

/* Value to text in format (a character set, or the matching list format for a one-entry
 * list), replacing stream's data; maxLength and flags stay. Format 0: TWFAIL_ZERO_FORMAT;
 * a binary format that does not fit the value: TWFAIL_INVALID_CONVERT. */
TW_API uint32_t TWStreamFromInt(TWStream* stream, const int32_t* value, uint32_t format);
/* 15 significant digits, exponent form only when shorter; not a finite number:
 * TWFAIL_INVALID_FLOAT. */
TW_API uint32_t TWStreamFromFloat(TWStream* stream, const double* value, uint32_t format);
/* Always four digits after the point ("-12.5000"). */
TW_API uint32_t TWStreamFromCurrency(TWStream* stream, const TWCurrency* value, uint32_t format);
/* Exactly scale digits after the point; a negative scale adds zeros. */
TW_API uint32_t TWStreamFromNumeric(TWStream* stream, const TWNumeric* value, uint32_t format);
/* International text of the halves that are not null ("11/05/1996 02:07:09 PM"); both
 * null give an empty text. A date outside years 1 to 32767: TWFAIL_INVALID_DATETIME. */
TW_API uint32_t TWStreamFromDatetime(TWStream* stream, const TWDatetime* value, uint32_t format);

/* The nearest double. */
TW_API uint32_t TWFloatFromCurrency(double* value, const TWCurrency* currency);
TW_API uint32_t TWFloatFromNumeric(double* value, const TWNumeric* numeric);
/* Rounded to four places; beyond the range of TWCurrency: TWFAIL_OVERFLOW, clamped; not a
 * finite number: TWFAIL_INVALID_FLOAT. */
TW_API uint32_t TWCurrencyFromFloat(TWCurrency* value, const double* source);
/* 15 significant digits of source (into the declared precision and scale when there is
 * one); a magnitude above TWMAX_NUMERIC_PVALUE: TWFAIL_OVERFLOW, clamped; below
 * TWMIN_NUMERIC_PVALUE gives 0. */
TW_API uint32_t TWNumericFromFloat(TWNumeric* value, const double* source);

/* ---------------------------------------------------------------- currency ---------- */

/* result = a + b and result = a - b; result may be a or b. Beyond the range:
 * TWFAIL_OVERFLOW and result unchanged. */
TW_API uint32_t TWCurrencyAdd(TWCurrency* result, const TWCurrency* a, const TWCurrency* b);
TW_API uint32_t TWCurrencySubtract(TWCurrency* result, const TWCurrency* a, const TWCurrency* b);
/* Sets the value to 0. */
TW_API uint32_t TWCurrencyClear(TWCurrency* value);
/* *result -1, 0 or 1 as value is below, equal to or above base. */
TW_API uint32_t TWCurrencyCompare(const TWCurrency* value, const TWCurrency* base, int32_t* result);
TW_API uint32_t TWCurrencyCopy(TWCurrency* dest, const TWCurrency* source);

/* ---------------------------------------------------------------- numeric ----------- */

/* result = a + b and result = a - b; result may be a or b. A result with a declared
 * precision keeps it and its scale (rounded half away from zero); otherwise the scale is
 * the larger of the two, reduced when more than 88 digits would be needed. Too many
 * digits, or a magnitude above TWMAX_NUMERIC_PVALUE: TWFAIL_OVERFLOW and result unchanged. */
TW_API uint32_t TWNumericAdd(TWNumeric* result, const TWNumeric* a, const TWNumeric* b);
TW_API uint32_t TWNumericSubtract(TWNumeric* result, const TWNumeric* a, const TWNumeric* b);
/* Sets all twelve words to 0. */
TW_API uint32_t TWNumericClear(TWNumeric* value);
/* *result -1, 0 or 1 as value is below, equal to or above base, whatever the scales. */
TW_API uint32_t TWNumericCompare(const TWNumeric* value, const TWNumeric* base, int32_t* result);
TW_API uint32_t TWNumericCopy(TWNumeric* dest, const TWNumeric* source);
/* Sets the value to 0 declared with precision (0 = none, else 1 to 88) and scale (-127 to
 * 127; TWSCALE_ZERO means 0). Outside those: TWFAIL_INVALID_NUMERIC. */
TW_API uint32_t TWNumericCreate(TWNumeric* value, uint32_t precision, int32_t scale);
/* Answers the declared precision, or without one the digits of the magnitude (1 for 0);
 * 0 for a null record. */
TW_API int32_t TWNumericGetPrecision(const TWNumeric* value);
/* Answers the scale; 0 for a null record. */
TW_API int32_t TWNumericGetScale(const TWNumeric* value);

/* ---------------------------------------------------------------- datetime ---------- */

/* Errors common to the datetime calls: a date word outside years 1 to 32767, ticks above
 * 8639999 or a zone outside -12 to 14 answer TWFAIL_INVALID_DATETIME. */

/* Sets both words to 0: null date and null time. */
TW_API uint32_t TWDatetimeClear(TWDatetime* value);
TW_API uint32_t TWDatetimeCopy(TWDatetime* dest, const TWDatetime* source);
/* Now, on the local wall clock, with the machine's zone and daylight saving
 * (TWPlatGetDatetime, TWPlatGetTimeZone). */
TW_API uint32_t TWDatetimeSetCurrent(TWDatetime* value);
/* TWDTCONST_MINIMUM (1 January 1 00:00:00.00), TWDTCONST_MAXIMUM (31 December 32767
 * 23:59:59.99), both in zone 0 without daylight saving; TWDTCONST_WILDCARD: null date and
 * null time. Another constant: TWFAIL_INVALID_DATETIME. */
TW_API uint32_t TWDatetimeSetConstant(TWDatetime* value, uint32_t constant);
/* Breaks the value into parts. flags: TWPARTSF_LOCAL converts into the machine's zone and
 * TWPARTSF_GMT into UTC (only when date and time are both present; zone and daylight then
 * show the target zone); without either the value's own zone shows. A null half shows -1
 * in its parts, 0 with TWPARTSF_NULL_ZERO, its minimum with TWPARTSF_NULL_MIN (1 January 1, a
 * Monday; 00:00:00.00). LOCAL with GMT, or NULL_ZERO with NULL_MIN: TWFAIL_INVALID_FLAGS; a
 * converted wall clock beyond the years 1 to 32767: TWFAIL_OVERFLOW, the parts clamped. */
TW_API uint32_t TWDatetimeGetParts(const TWDatetime* value, uint32_t flags, TWDatetimeParts* parts);
/* Builds the value from parts (weekday is ignored). Without a zone flag the parts' zone and
 * daylight are kept; TWPARTSF_LOCAL takes the machine's, TWPARTSF_GMT zone 0 without
 * daylight saving. Any of year, month, day at -1 makes the date null, any time part at -1
 * the time; with TWPARTSF_NULL_ZERO year, month and day all 0 make the date null, with
 * TWPARTSF_NULL_MIN 1 January 1 does. A part out of range: TWFAIL_INVALID_DATETIME;
 * conflicting flags: TWFAIL_INVALID_FLAGS. */
TW_API uint32_t TWDatetimeSetParts(TWDatetime* value, const TWDatetimeParts* parts, uint32_t flags);
/* Adds each part of adjustment: years, then months (the day is cut to the month's end),
 * then weeks (weekday part) and days, then hours to hundredths with carry into the date;
 * a zone part moves the value into another zone at the same instant; daylight is ignored.
 * Date parts on a null date or time parts on a null time: TWFAIL_INVALID_DATETIME; a year
 * beyond 1 to 32767: TWFAIL_OVERFLOW and the value unchanged. */
TW_API uint32_t TWDatetimeAdjust(TWDatetime* value, const TWDatetimeParts* adjustment);
/* *result -1, 0 or 1 as value is before, equal to or after base. Complete values are
 * compared as instants (zones applied); otherwise date, then time on the wall clock, a null
 * half sorting first. */
TW_API uint32_t TWDatetimeCompare(const TWDatetime* value, const TWDatetime* base, int32_t* result);
/* *difference = value - base in whole units (TWDTUNIT_*), truncated toward zero:
 * YEAR and MONTH on the calendar, WEEKDAY in weeks, DAY between the two dates as written
 * (times and zones ignored), HOUR to HUNDREDTH between the instants (between the times of
 * day when both dates are null), ZONE between the zones. A half that the unit needs being
 * null: TWFAIL_INVALID_DATETIME; beyond 32 bits: TWFAIL_OVERFLOW; another unit:
 * TWFAIL_INVALID_FLAGS. */
TW_API uint32_t TWDatetimeGetDiff(const TWDatetime* value, const TWDatetime* base, uint32_t unit,
                                  int32_t* difference);
/* Answers the Julian day number, or TWDTNULL_DATE for a null date or a null record. */
TW_API uint32_t TWDatetimeGetJulian(const TWDatetime* value);
/* Sets the Julian day, keeping time, zone and daylight; TWDTNULL_DATE makes the date null.
 * A day outside years 1 to 32767: TWFAIL_INVALID_DATETIME. */
TW_API uint32_t TWDatetimeSetJulian(TWDatetime* value, uint32_t julian);
/* Answers the hundredths since midnight, or TWDTNULL_TIME for a null time or record. */
TW_API uint32_t TWDatetimeGetTicks(const TWDatetime* value);
/* Sets the time of day; TWDTNULL_TIME makes it null; above 8639999:
 * TWFAIL_INVALID_DATETIME. */
TW_API uint32_t TWDatetimeSetTicks(TWDatetime* value, uint32_t ticks);

/* ---------------------------------------------------------------- fields ------------ */

/* A field holds a type (TWTYPE_*), flags (TWFIELDF_*), a format (number, datetime or
 * stream, by type), a virtual code and a number of values, each with a null flag. Values
 * count from 1; an index beyond the count answers TWFAIL_RECORD_INDEX, a run of values
 * beyond it TWFAIL_RECORD_COUNT. A value is stored as: INT int32_t, FLOAT double, CURRENCY
 * TWCurrency, NUMERIC TWNumeric, DATETIME TWDatetime, TEXT and BINARY a TWStream that carries
 * the field's stream format. A field of type TWTYPE_INVALID holds no value: its value calls
 * answer TWFAIL_INVALID_TYPE.
 *
 * Typed gets and sets convert between types: numbers among themselves, any type to and from
 * text, a list to its first entry (an empty list reads as null; more entries need
 * TWFIELDF_TRUNC_DATA, else TWFAIL_OVERFLOW) and a single value to a one-entry list. A lost
 * fraction or digit needs TWFIELDF_TRUNC_PREC on the field written (else
 * TWFAIL_PRECISION_LOSS); a value beyond the written field's range or length needs
 * TWFIELDF_TRUNC_DATA (else TWFAIL_OVERFLOW) and is then clamped or cut. A typed get applies
 * these rules with the flags of the field read. No conversion
 * between the types (a datetime to a number, say): TWFAIL_INVALID_CONVERT. Setting a value
 * makes it non-null. */

/* A standalone field of type (1 to 7, else TWFAIL_INVALID_TYPE) with valueCount null values
 * (0: TWFAIL_ZERO_COUNT). *field is TWNULLHANDLE after a failure. */
TW_API uint32_t TWFieldAlloc(TWFIELD* field, uint32_t type, uint32_t valueCount);
/* Frees a standalone field and its values. A field that belongs to a list:
 * TWFAIL_INVALID_FIELD, nothing freed. TWNULLHANDLE answers 0. */
TW_API uint32_t TWFieldFree(TWFIELD field);
/* Compares valueCount values from thisIndex with those of base from baseIndex; *result is
 * -1, 0 or 1 for the first pair that differs (a null value sorts first; two nulls are
 * equal). Flags TWCOMPAREF_*. With TWCOMPAREF_FORMAT two values count as equal when the
 * coarser of the two fields' formats holds them as one, rounded or cut: numbers at the
 * fewer decimals (an INT none, a CURRENCY four, a decimal column its scale) and the fewer
 * significant digits of a float, fixed-width text without trailing blanks, datetimes at the
 * coarser time unit and without a half either format leaves out; it is no order for keys.
 * Types that cannot be compared: TWFAIL_TYPE_MISMATCH. */
TW_API uint32_t TWFieldCompare(TWFIELD field, uint32_t thisIndex, TWFIELD base, uint32_t baseIndex,
                               uint32_t valueCount, uint32_t flags, int32_t* result);
/* Writes valueCount values of source from sourceIndex into field from thisIndex, converted
 * by the rules above; null values stay null. The first failing value stops the call. */
TW_API uint32_t TWFieldConvert(TWFIELD field, uint32_t thisIndex, TWFIELD source,
                               uint32_t sourceIndex, uint32_t valueCount);
/* field becomes a copy of source: type, flags, formats, virtual code and every value. A
 * field in a list must already have source's type and value count: TWFAIL_INVALID_CONVERT,
 * TWFAIL_RECORD_COUNT. */
TW_API uint32_t TWFieldCopy(TWFIELD field, TWFIELD source);
/* The storage of value index: *value (optional) its address (layout above), *isNull
 * (optional) the address of its int32 null word (1 null, 0 not), which the caller may
 * write. A field's values lie in one array, TWFieldGetTypeSize bytes apart; so do the
 * null words. The addresses stay valid until the field and every list showing it are freed,
 * or until TWFieldCopy gives a standalone field another type or value count. */
TW_API uint32_t TWFieldGetBuffer(TWFIELD field, uint32_t index, void** value, int32_t** isNull);
/* The typed gets: *isNull (optional) receives the null flag; a null value gives a cleared
 * value (a stream emptied) and status 0. The typed sets take the value by address. */
TW_API uint32_t TWFieldGetInt(TWFIELD field, uint32_t index, int32_t* value, int32_t* isNull);
TW_API uint32_t TWFieldGetFloat(TWFIELD field, uint32_t index, double* value, int32_t* isNull);
TW_API uint32_t TWFieldGetCurrency(TWFIELD field, uint32_t index, TWCurrency* value,
                                   int32_t* isNull);
TW_API uint32_t TWFieldGetNumeric(TWFIELD field, uint32_t index, TWNumeric* value, int32_t* isNull);
TW_API uint32_t TWFieldGetDatetime(TWFIELD field, uint32_t index, TWDatetime* value,
                                   int32_t* isNull);
/* Stores the value converted to format (0: the value's own format) in dest, whose earlier
 * data is released and whose maxLength and flags stay. A datetime is written without the
 * half its field's datetime format leaves out. */
TW_API uint32_t TWFieldGetStream(TWFIELD field, uint32_t index, uint32_t format, TWStream* dest,
                                 int32_t* isNull);
TW_API uint32_t TWFieldSetInt(TWFIELD field, uint32_t index, const int32_t* value);
TW_API uint32_t TWFieldSetFloat(TWFIELD field, uint32_t index, const double* value);
TW_API uint32_t TWFieldSetCurrency(TWFIELD field, uint32_t index, const TWCurrency* value);
TW_API uint32_t TWFieldSetNumeric(TWFIELD field, uint32_t index, const TWNumeric* value);
TW_API uint32_t TWFieldSetDatetime(TWFIELD field, uint32_t index, const TWDatetime* value);
/* A TEXT or BINARY field stores a copy, converted into its stream format when it declares
 * one (else in the value's own format), with its length rules; other types parse the
 * text. */
TW_API uint32_t TWFieldSetStream(TWFIELD field, uint32_t index, const TWStream* value);
/* isNull non-zero makes the value null (a stream's data is released, other values are
 * zeroed); 0 marks it non-null and leaves it as it is. */
TW_API uint32_t TWFieldSetNull(TWFIELD field, uint32_t index, int32_t isNull);
/* Answers 1 when value index is null (also for a bad handle or index), else 0. */
TW_API int32_t TWFieldIsNull(TWFIELD field, uint32_t index);

/* Answers the type, the bytes one value occupies, the number of values, the flags and the
 * virtual code; 0 for TWNULLHANDLE. */
TW_API uint32_t TWFieldGetType(TWFIELD field);
TW_API uint32_t TWFieldGetTypeSize(TWFIELD field);
TW_API uint32_t TWFieldGetValueCount(TWFIELD field);
TW_API uint32_t TWFieldGetFlags(TWFIELD field);
TW_API uint32_t TWFieldGetVirtualCode(TWFIELD field);
/* Replaces the flags; a bit outside TWFIELDF_*: TWFAIL_INVALID_FLAGS. Seen through every
 * list that shows the field. */
TW_API uint32_t TWFieldSetFlags(TWFIELD field, uint32_t flags);
/* Marks the field as a connection's own (virtual) field: code is the connection code, of
 * which the TWMASK_LINK_CODE bits are kept (and answered by TWFieldGetVirtualCode); a code
 * without them makes it an ordinary field. */
TW_API uint32_t TWFieldSetVirtualCode(TWFIELD field, uint32_t code);

/* Formats describe the column a field mirrors; the engine keeps them, copies them with the
 * field and applies only what is stated. Every get out-parameter is optional. */
/* Number format: TWNUMBERF_* flags, the source's byte size, precision and scale
 * (TWSCALE_ZERO: zero given explicitly; 0: not known). */
TW_API uint32_t TWFieldSetFormatNumber(TWFIELD field, uint32_t flags, uint32_t size,
                                       uint32_t precision, int32_t scale);
TW_API uint32_t TWFieldGetFormatNumber(TWFIELD field, uint32_t* flags, uint32_t* size,
                                       uint32_t* precision, int32_t* scale);
/* Datetime format: TWDATETIMEF_* flags (the halves the source leaves out, and whether it
 * keeps whole seconds or tenths only) and the source's byte size. */
TW_API uint32_t TWFieldSetFormatDatetime(TWFIELD field, uint32_t flags, uint32_t size);
TW_API uint32_t TWFieldGetFormatDatetime(TWFIELD field, uint32_t* flags, uint32_t* size);
/* Stream format of a TEXT or BINARY field: TWSTREAMF_* flags, maxLength (0 = unbounded)
 * and format (0 = none declared); stamped on the field's value streams and applied to
 * what is written later. TWSTREAMF_FIXED with maxLength 0: TWFAIL_FIXED_LENGTH. */
TW_API uint32_t TWFieldSetFormatStream(TWFIELD field, uint32_t flags, uint32_t maxLength,
                                       uint32_t format);
TW_API uint32_t TWFieldGetFormatStream(TWFIELD field, uint32_t* flags, uint32_t* maxLength,
                                       uint32_t* format);

/* ---------------------------------------------------------------- field lists ------- */

/* An ordered list of named fields that share a record count: every field holds one value
 * per record. A list with record count 0 holds names (and types) only. Names are text of
 * any character set, kept as QMBCS and compared without regard to case; a null name
 * answers TWFAIL_NULL_FIELDNAME. Each list carries a sequence number, unique in the process
 * and renewed whenever its fields, their order or names change, so that a caller can tell
 * that a list it prepared for has changed.
 *
 * A merged list (TWFieldlistMerge) is a view: its entries show fields of the data list under
 * names of the name list; it shares their values, null flags, types, formats and flags, and
 * the storage lives until the data list and every view of it are freed. While a list is seen
 * through a view, and for a view itself, Append, Insert, Remove, Replace, Copy and CopyRef
 * answer TWFAIL_FIELDLIST_REF. */

/* *list receives a new empty list for recordCount records whose fields start with
 * fieldFlags (TWFIELDF_*); TWNULLHANDLE after a failure. */
TW_API uint32_t TWFieldlistAlloc(TWFIELDLIST* list, uint32_t recordCount, uint32_t fieldFlags);
/* Frees the list, its names and the fields it owns (their values once no view needs
 * them). TWNULLHANDLE answers 0. */
TW_API uint32_t TWFieldlistFree(TWFIELDLIST list);
/* Adds a field of type (0 to 7, else TWFAIL_INVALID_TYPE) named name at the end, with null
 * values for every record and the list's field flags; *field (optional) receives it, owned
 * by the list. */
TW_API uint32_t TWFieldlistAppend(TWFIELDLIST list, const TWStream* name, uint32_t type,
                                  TWFIELD* field);
/* As TWFieldlistAppend, placing the field before entry index (count + 1 appends). */
TW_API uint32_t TWFieldlistInsert(TWFIELDLIST list, uint32_t index, const TWStream* name,
                                  uint32_t type, TWFIELD* field);
/* Replaces entry index by a new field; the old field is freed. */
TW_API uint32_t TWFieldlistReplace(TWFIELDLIST list, uint32_t index, const TWStream* name,
                                   uint32_t type, TWFIELD* field);
/* Removes entry index and frees its field. */
TW_API uint32_t TWFieldlistRemove(TWFIELDLIST list, uint32_t index);
/* Renames entry index (also allowed on a view). */
TW_API uint32_t TWFieldlistSetName(TWFIELDLIST list, uint32_t index, const TWStream* name);
/* dest's fields are replaced by copies of source's (names, types, formats, flags, values)
 * and it takes source's record count. */
TW_API uint32_t TWFieldlistCopy(TWFIELDLIST dest, TWFIELDLIST source);
/* dest's fields are replaced by a view of all of source's fields under the same names. */
TW_API uint32_t TWFieldlistCopyRef(TWFIELDLIST dest, TWFIELDLIST source);
/* Answers the number of fields, the record count and the sequence number; 0 for
 * TWNULLHANDLE. */
TW_API uint32_t TWFieldlistGetCount(TWFIELDLIST list);
TW_API uint32_t TWFieldlistGetRecordCount(TWFIELDLIST list);
TW_API uint32_t TWFieldlistGetSequence(TWFIELDLIST list);
/* *field (optional) receives the field of entry index, still the list's; *name (optional)
 * its name in format (0: QMBCS). Index beyond the count: TWFAIL_INVALID_INDEX. */
TW_API uint32_t TWFieldlistGetField(TWFIELDLIST list, uint32_t index, uint32_t format,
                                    TWFIELD* field, TWStream* name);
/* *position receives the position of entry index, as TWFieldlistList gives it: the entry
 * number in a plain list; in a view the number of the name-list entry it shows (the column a
 * merged field came from), or for a data field kept beyond the names its place among the
 * data fields. Index beyond the count: TWFAIL_INVALID_INDEX. */
TW_API uint32_t TWFieldlistGetPosition(TWFIELDLIST list, uint32_t index, uint32_t* position);
/* The name of entry index in format (0: QMBCS), stored in name. */
TW_API uint32_t TWFieldlistGetName(TWFIELDLIST list, uint32_t index, uint32_t format,
                                   TWStream* name);
/* Answers the length in bytes of the longest name in format; 0 for an empty list. */
TW_API uint32_t TWFieldlistGetNameLength(TWFIELDLIST list, uint32_t format);
/* The first entry named name: *field and *index (optional) receive its field and entry
 * number. No such name: TWFAIL_INVALID_INDEX. */
TW_API uint32_t TWFieldlistLookup(TWFIELDLIST list, const TWStream* name, TWFIELD* field,
                                  uint32_t* index);
/* Starts a walk of the entries in order; names come in format (0: QMBCS). */
TW_API uint32_t TWFieldlistListSetup(TWFIELDLIST list, uint32_t format);
/* The next entry of the walk: its field, its position (the entry number; in a view the
 * number of the name it shows), type, flags and name; each out-parameter is optional.
 * TWFAIL_END_OF_DATA after the last; TWFAIL_LIST_SETUP without a walk. One walk per list
 * at a time. */
TW_API uint32_t TWFieldlistList(TWFIELDLIST list, TWFIELD* field, uint32_t* index, uint32_t* type,
                                uint32_t* flags, TWStream* name);
/* *merged receives a view of dataList laid out by nameList (TWNULLHANDLE after a failure).
 * Flags: TWMERGEF_MAP_NAME pairs by name (the view follows nameList's order), otherwise by
 * position; TWMERGEF_NAME_LOSS lets names without data drop out; TWMERGEF_DATA_LOSS lets data
 * fields without a name drop out (by position, data fields beyond the names are kept
 * without it); TWMERGEF_FETCH to TWMERGEF_DROP leave out data fields flagged with the
 * matching TWFIELDF_NO_*, except key fields under TWMERGEF_KEY, and a field left out takes
 * no position. A name or data field that may not drop out: TWFAIL_MERGE_FIELD; dataList
 * without records: TWFAIL_NO_MERGE_DATA. */
TW_API uint32_t TWFieldlistMerge(TWFIELDLIST* merged, TWFIELDLIST nameList, TWFIELDLIST dataList,
                                 uint32_t flags);
/* As TWFieldlistMerge, except that data fields whose virtual code equals virtualCode under
 * TWMASK_LINK_CODE go, in order, into the view *virtualList instead of being paired (a
 * virtualCode without those bits names no field, so ordinary fields are always paired).
 * Both outputs are TWNULLHANDLE after a failure. */
TW_API uint32_t TWFieldlistMergeVirtual(TWFIELDLIST* merged, TWFIELDLIST nameList,
                                        TWFIELDLIST dataList, uint32_t flags, uint32_t virtualCode,
                                        TWFIELDLIST* virtualList);

#ifdef __cplusplus
}
#endif

#include "twengine.h"

#endif /* TW_FLOWCORE_FLOWCORE_H_ */
