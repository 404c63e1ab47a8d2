/* The engine's public constants, in the order of its constant table: 426 integers and 6
 * doubles. twconst_table.inc lists the same names in the order the script binding
 * registers them. Names that twstatus.h already defines (the success, failure and event
 * statuses and TWSTATUSF_EVENT) stand here as comments so that the table reads whole. */
#ifndef TW_FLOWCORE_TWCONST_H_
#define TW_FLOWCORE_TWCONST_H_

#include "twstatus.h"

/* TWNULLHANDLE (1): The value of a handle that names nothing. */
#define TWNULLHANDLE 0x0

/* TWLIST_ (2): Walk directions: the first entry, then each next one until a non-zero
 * status. */
#define TWLIST_FIRST 0x1
#define TWLIST_NEXT 0x2

/* TWTYPE_ (9): Field types. TWTYPE_BINARY fields also carry the list formats. */
#define TWTYPE_INVALID 0x0
#define TWTYPE_INT 0x1
#define TWTYPE_FLOAT 0x2
#define TWTYPE_CURRENCY 0x3
#define TWTYPE_NUMERIC 0x4
#define TWTYPE_DATETIME 0x5
#define TWTYPE_TEXT 0x6
#define TWTYPE_BINARY 0x7
#define TWTYPE_MAX 0x7

/* TWMAX_ (15): Upper limits of the value types (precision in decimal digits, scale in
 * digits after the point). The three doubles are registered with the other doubles, after
 * every integer. */
#define TWMAX_INT_PREC 0x9
#define TWMAX_INT_SCALE 0x0
#define TWMAX_INT_VALUE 0x7fffffff
#define TWMAX_FLOAT_PREC 0xf
#define TWMAX_FLOAT_EXP 0x134
#define TWMAX_CURRENCY_PREC 0x13
#define TWMAX_CURRENCY_SCALE 0x4
#define TWMAX_NUMERIC_PREC 0x58
#define TWMAX_NUMERIC_SCALE 0x7f
#define TWMAX_DATETIME_YEAR 0x7fff
#define TWMAX_LOG_TEXT 0x100
#define TWMAX_BASE_TOKEN 0xffff
#define TWMAX_FLOAT_PVALUE 1.7976931348623157e+308
#define TWMAX_CURRENCY_VALUE 922337203685477.6
#define TWMAX_NUMERIC_PVALUE 1e+127

/* TWMIN_ (7): Lower limits. The three doubles are registered after every integer. */
#define TWMIN_INT_VALUE 0x80000001
#define TWMIN_NUMERIC_SCALE 0xffffff81
#define TWMIN_DATETIME_YEAR 0x1
#define TWMIN_BASE_TOKEN 0x1
#define TWMIN_FLOAT_PVALUE 2.2250738585072014e-308
#define TWMIN_CURRENCY_VALUE (-922337203685477.6)
#define TWMIN_NUMERIC_PVALUE 1e-127

/* TWMAXLEN_ (5): Room in bytes that the text of one value of each type needs, terminator
 * included. */
#define TWMAXLEN_INT_TEXT 0x18
#define TWMAXLEN_FLOAT_TEXT 0x34
#define TWMAXLEN_CURRENCY_TEXT 0x3c
#define TWMAXLEN_NUMERIC_TEXT 0xbe
#define TWMAXLEN_DATETIME_TEXT 0x64

/* TWFLOAT_ (1): Significant digits of a low-precision float comparison. */
#define TWFLOAT_LOW_PREC 0xa

/* TWPARTSF_ (4): Flags of TWDatetimeGetParts and TWDatetimeSetParts: how null halves read
 * and are written, and in which zone the parts are. */
#define TWPARTSF_NULL_ZERO 0x1
#define TWPARTSF_LOCAL 0x2
#define TWPARTSF_GMT 0x4
#define TWPARTSF_NULL_MIN 0x8

/* TWDTCONST_ (3): Constants of TWDatetimeSetConstant. */
#define TWDTCONST_MINIMUM 0x1
#define TWDTCONST_MAXIMUM 0x2
#define TWDTCONST_WILDCARD 0x3

/* TWDTNULL_ (2): What TWDatetimeGetJulian and TWDatetimeGetTicks answer for a null date
 * and a null time. */
#define TWDTNULL_DATE 0xffffffff
#define TWDTNULL_TIME 0xffffffff

/* TWDTUNIT_ (9): Units of TWDatetimeGetDiff. */
#define TWDTUNIT_YEAR 0x1
#define TWDTUNIT_MONTH 0x2
#define TWDTUNIT_DAY 0x3
#define TWDTUNIT_WEEKDAY 0x4
#define TWDTUNIT_HOUR 0x5
#define TWDTUNIT_MINUTE 0x6
#define TWDTUNIT_SECOND 0x7
#define TWDTUNIT_HUNDREDTH 0x8
#define TWDTUNIT_ZONE 0x9

/* TWSTREAMF_ (3): Stream flags (the flags word of a TWStream and of a field's stream
 * format). */
#define TWSTREAMF_FIXED 0x1
#define TWSTREAMF_TRUNCATE 0x4
#define TWSTREAMF_NO_CASE 0x10

/* TWSTREAMFMTF_ (1): Set in every stream format that is not a character set. */
#define TWSTREAMFMTF_BINARY 0x40000000

/* TWSTREAMFMT_ (205): Stream formats: character sets (several names share one value) and
 * the binary formats. */
#define TWSTREAMFMT_NATIVE 0xffff
#define TWSTREAMFMT_BLOB 0x40000001
#define TWSTREAMFMT_COMPOSITE 0x40000002
#define TWSTREAMFMT_TEXT_LIST 0x40000003
#define TWSTREAMFMT_NUMBER_LIST 0x40000004
#define TWSTREAMFMT_DATETIME_LIST 0x40000005
#define TWSTREAMFMT_QICS 0x0
#define TWSTREAMFMT_CP851 0x1
#define TWSTREAMFMT_CP852 0x2
#define TWSTREAMFMT_CP853 0x3
#define TWSTREAMFMT_CP857 0x4
#define TWSTREAMFMT_CP862 0x5
#define TWSTREAMFMT_CP864 0x6
#define TWSTREAMFMT_CP866 0x7
#define TWSTREAMFMT_CP437 0x8
#define TWSTREAMFMT_CP850 0x9
#define TWSTREAMFMT_CP855 0xa
#define TWSTREAMFMT_CP860 0xb
#define TWSTREAMFMT_CP861 0xc
#define TWSTREAMFMT_CP863 0xd
#define TWSTREAMFMT_CP865 0xe
#define TWSTREAMFMT_CP869 0xf
#define TWSTREAMFMT_CP874 0x90
#define TWSTREAMFMT_CP899 0x11
#define TWSTREAMFMT_CP932 0x12
#define TWSTREAMFMT_CP942 0x12
#define TWSTREAMFMT_CP891 0x13
#define TWSTREAMFMT_DECMCS 0x14
#define TWSTREAMFMT_EUC 0x17
#define TWSTREAMFMT_KS 0x18
#define TWSTREAMFMT_CP949 0x18
#define TWSTREAMFMT_TCA 0x19
#define TWSTREAMFMT_BIG5 0x1a
#define TWSTREAMFMT_CP950 0x1a
#define TWSTREAMFMT_GB 0x1b
#define TWSTREAMFMT_CP936 0x1b
#define TWSTREAMFMT_NECESJIS 0x1c
#define TWSTREAMFMT_ISO646 0x1f
#define TWSTREAMFMT_ASCII 0x1f
#define TWSTREAMFMT_ISO88591 0x20
#define TWSTREAMFMT_CP819 0x20
#define TWSTREAMFMT_ISO88592 0x21
#define TWSTREAMFMT_CP912 0x21
#define TWSTREAMFMT_ISO88593 0x22
#define TWSTREAMFMT_ISO88594 0x23
#define TWSTREAMFMT_ISO88595 0x24
#define TWSTREAMFMT_CP915 0x24
#define TWSTREAMFMT_ISO88596 0x25
#define TWSTREAMFMT_CP1008 0x25
#define TWSTREAMFMT_ISO88597 0x26
#define TWSTREAMFMT_CP813 0x26
#define TWSTREAMFMT_ISO88598 0x27
#define TWSTREAMFMT_CP916 0x27
#define TWSTREAMFMT_ISO88599 0x28
#define TWSTREAMFMT_CP920 0x28
#define TWSTREAMFMT_HPROMAN 0x30
#define TWSTREAMFMT_HPGREEK 0x31
#define TWSTREAMFMT_HPTURKISH 0x32
#define TWSTREAMFMT_HPHEBREW 0x34
#define TWSTREAMFMT_HPARABIC 0x35
#define TWSTREAMFMT_HPTHAI 0x36
#define TWSTREAMFMT_HPJAPAN 0x37
#define TWSTREAMFMT_HPKANA 0x38
#define TWSTREAMFMT_HPKOREA 0x39
#define TWSTREAMFMT_HPPRC 0x3a
#define TWSTREAMFMT_HPROC 0x3b
#define TWSTREAMFMT_CP37 0x40
#define TWSTREAMFMT_CP273 0x41
#define TWSTREAMFMT_CP278 0x42
#define TWSTREAMFMT_CP280 0x43
#define TWSTREAMFMT_CP284 0x44
#define TWSTREAMFMT_CP285 0x45
#define TWSTREAMFMT_CP290 0x46
#define TWSTREAMFMT_CP297 0x47
#define TWSTREAMFMT_CP500 0x48
#define TWSTREAMFMT_CP930 0x49
#define TWSTREAMFMT_CP931 0x4a
#define TWSTREAMFMT_CP939 0x4b
#define TWSTREAMFMT_CP277 0x4c
#define TWSTREAMFMT_CP1250 0x50
#define TWSTREAMFMT_CP1251 0x51
#define TWSTREAMFMT_CP1252 0x52
#define TWSTREAMFMT_ANSI 0x52
#define TWSTREAMFMT_CP1253 0x53
#define TWSTREAMFMT_CP1254 0x54
#define TWSTREAMFMT_CP1255 0x55
#define TWSTREAMFMT_CP1256 0x56
#define TWSTREAMFMT_CP1257 0x57
#define TWSTREAMFMT_MACSCRIPT0 0x60
#define TWSTREAMFMT_MACSCRIPT1 0x12
#define TWSTREAMFMT_MACSCRIPT2 0x1b
#define TWSTREAMFMT_MACSCRIPT3 0x18
#define TWSTREAMFMT_MACSCRIPT4 0x25
#define TWSTREAMFMT_MACSCRIPT5 0x27
#define TWSTREAMFMT_MACSCRIPT6 0x26
#define TWSTREAMFMT_MACSCRIPT7 0x24
#define TWSTREAMFMT_MACSCRIPT8 0x68
#define TWSTREAMFMT_MACSCRIPT9 0x69
#define TWSTREAMFMT_MACSCRIPT10 0x6a
#define TWSTREAMFMT_MACSCRIPT11 0x6b
#define TWSTREAMFMT_MACSCRIPT12 0x6c
#define TWSTREAMFMT_MACSCRIPT13 0x6d
#define TWSTREAMFMT_MACSCRIPT14 0x6e
#define TWSTREAMFMT_MACSCRIPT15 0x6f
#define TWSTREAMFMT_MACSCRIPT16 0x70
#define TWSTREAMFMT_MACSCRIPT17 0x71
#define TWSTREAMFMT_MACSCRIPT18 0x72
#define TWSTREAMFMT_MACSCRIPT19 0x73
#define TWSTREAMFMT_MACSCRIPT20 0x74
#define TWSTREAMFMT_MACSCRIPT21 0x75
#define TWSTREAMFMT_MACSCRIPT22 0x76
#define TWSTREAMFMT_MACSCRIPT23 0x77
#define TWSTREAMFMT_MACSCRIPT24 0x78
#define TWSTREAMFMT_MACSCRIPT25 0x79
#define TWSTREAMFMT_MACSCRIPT26 0x7a
#define TWSTREAMFMT_MACSCRIPT27 0x7b
#define TWSTREAMFMT_MACSCRIPT28 0x7c
#define TWSTREAMFMT_MACSCRIPT29 0x7d
#define TWSTREAMFMT_MACSCRIPT30 0x7e
#define TWSTREAMFMT_MACSCRIPT31 0x7f
#define TWSTREAMFMT_MACSCRIPT32 0x80
#define TWSTREAMFMT_MACSCRIPT0CROATIAN 0x81
#define TWSTREAMFMT_MACSCRIPT0GREEK 0x82
#define TWSTREAMFMT_MACSCRIPT0ICELANDIC 0x83
#define TWSTREAMFMT_MACSCRIPT0ROMANIAN 0x84
#define TWSTREAMFMT_MACSCRIPT0TURKISH 0x85
#define TWSTREAMFMT_THAI 0x90
#define TWSTREAMFMT_UNICODE 0xa0
#define TWSTREAMFMT_CP1200 0xa0
#define TWSTREAMFMT_ISO10646 0xa0
#define TWSTREAMFMT_UTF7 0xaa
#define TWSTREAMFMT_UTF8 0xab
#define TWSTREAMFMT_QMBCS 0x100
#define TWSTREAMFMT_DECNRCUK 0xa00
#define TWSTREAMFMT_DECNRCDUTCH 0xa01
#define TWSTREAMFMT_DECNRCFINNISH 0xa02
#define TWSTREAMFMT_DECNRCFRENCH 0xa03
#define TWSTREAMFMT_DECNRCFRENCHCANADIAN 0xa04
#define TWSTREAMFMT_DECNRCGERMAN 0xa05
#define TWSTREAMFMT_DECNRCITALIAN 0xa06
#define TWSTREAMFMT_DECNRCNORWEGIANDANISH 0xa07
#define TWSTREAMFMT_DECNRCPORTUGUESE 0xa08
#define TWSTREAMFMT_DECNRCSPANISH 0xa09
#define TWSTREAMFMT_DECNRCSWEDISH 0xa0a
#define TWSTREAMFMT_DECNRCSWISS 0xa0b
#define TWSTREAMFMT_T61 0xb00
#define TWSTREAMFMT_T50 0xb01
#define TWSTREAMFMT_ASN1 0xb10
#define TWSTREAMFMT_CP856 0xc00
#define TWSTREAMFMT_CP1004 0xc01
#define TWSTREAMFMT_CP1002 0xca0
#define TWSTREAMFMT_CP1003 0xca1
#define TWSTREAMFMT_CP1025 0xca2
#define TWSTREAMFMT_CP1026 0xca3
#define TWSTREAMFMT_CP1028 0xca4
#define TWSTREAMFMT_CP256 0xca5
#define TWSTREAMFMT_CP259 0xca6
#define TWSTREAMFMT_CP274 0xca7
#define TWSTREAMFMT_CP275 0xca8
#define TWSTREAMFMT_CP281 0xca9
#define TWSTREAMFMT_CP282 0xcaa
#define TWSTREAMFMT_CP361 0xcab
#define TWSTREAMFMT_CP382 0xcad
#define TWSTREAMFMT_CP383 0xcae
#define TWSTREAMFMT_CP384 0xcaf
#define TWSTREAMFMT_CP385 0xcb0
#define TWSTREAMFMT_CP386 0xcb1
#define TWSTREAMFMT_CP387 0xcb2
#define TWSTREAMFMT_CP388 0xcb3
#define TWSTREAMFMT_CP389 0xcb4
#define TWSTREAMFMT_CP390 0xcb5
#define TWSTREAMFMT_CP391 0xcb6
#define TWSTREAMFMT_CP392 0xcb7
#define TWSTREAMFMT_CP393 0xcb8
#define TWSTREAMFMT_CP394 0xcb9
#define TWSTREAMFMT_CP395 0xcba
#define TWSTREAMFMT_CP423 0xcbb
#define TWSTREAMFMT_CP424 0xcbc
#define TWSTREAMFMT_CP803 0xcbd
#define TWSTREAMFMT_CP870 0xcbe
#define TWSTREAMFMT_CP871 0xcbf
#define TWSTREAMFMT_CP875 0xcc0
#define TWSTREAMFMT_CP880 0xcc1
#define TWSTREAMFMT_CP905 0xcc2
#define TWSTREAMFMT_CP948 0xcc4
#define TWSTREAMFMT_CP938 0xcc5
#define TWSTREAMFMT_CP1381 0x1b
#define TWSTREAMFMT_CP937 0xcc9
#define TWSTREAMFMT_CP935 0xcca
#define TWSTREAMFMT_EACC 0xccb
#define TWSTREAMFMT_JIS 0xccd
#define TWSTREAMFMT_CCCII 0xcce
#define TWSTREAMFMT_XEROXCJK 0xccf
#define TWSTREAMFMT_CP944 0xcd1
#define TWSTREAMFMT_CP934 0xcd2
#define TWSTREAMFMT_CP737 0xce0
#define TWSTREAMFMT_CP775 0xce1
#define TWSTREAMFMT_ISO6937 0xce2
#define TWSTREAMFMT_BASE64 0xce3
#define TWSTREAMFMT_JIS2 0xce4
#define TWSTREAMFMT_EUCJ 0xce5
#define TWSTREAMFMT_EUCT 0xce6
#define TWSTREAMFMT_ISOKR 0xce7
#define TWSTREAMFMT_EUCK 0xce7
#define TWSTREAMFMT_EUCC 0xce8

/* TWSTREAM_ (1): Bytes of the header (value count, range count) that number and datetime
 * lists carry. */
#define TWSTREAM_PREFIX_LENGTH 0x4

/* TWCONVERTF_ (3): Flags of TWStreamDataConvert. */
#define TWCONVERTF_REFERENCE 0x1
#define TWCONVERTF_PRESERVE 0x2
#define TWCONVERTF_FORCE_TEXT 0x4

/* TWNUMBERF_ (5): Number-format flags of a field (TWFieldSetFormatNumber): what kind of
 * column it mirrors. */
#define TWNUMBERF_UNSIGNED 0x1
#define TWNUMBERF_NUMERIC 0x2
#define TWNUMBERF_DECIMAL 0x4
#define TWNUMBERF_PACKED 0x8
#define TWNUMBERF_BIT 0x10

/* TWSCALE_ (1): A scale of zero given explicitly in a number format (a plain 0 means "not
 * known"). */
#define TWSCALE_ZERO 0x7fffffff

/* TWDATETIMEF_ (2): Datetime-format flags of a field (TWFieldSetFormatDatetime). */
#define TWDATETIMEF_NO_DATE 0x1
#define TWDATETIMEF_NO_TIME 0x2

/* TWFIELDF_ (13): Field flags. */
#define TWFIELDF_NO_NULL 0x1
#define TWFIELDF_TRUNC_PREC 0x2
#define TWFIELDF_TRUNC_DATA 0x4
#define TWFIELDF_NO_FETCH 0x10
#define TWFIELDF_NO_INSERT 0x20
#define TWFIELDF_NO_UPDATE 0x40
#define TWFIELDF_NO_REMOVE 0x80
#define TWFIELDF_NO_CREATE 0x100
#define TWFIELDF_NO_DROP 0x200
#define TWFIELDF_KEY 0x400
#define TWFIELDF_KEY_GT 0x1000
#define TWFIELDF_KEY_LT 0x2000
#define TWFIELDF_KEY_NE 0x4000

/* TWCOMPAREF_ (4): Flags of TWFieldCompare. */
#define TWCOMPAREF_NO_ZONE 0x1
#define TWCOMPAREF_SECOND 0x2
#define TWCOMPAREF_FLOAT_PREC 0x4
#define TWCOMPAREF_LOW_PREC 0xff

/* TWMERGEF_ (10): Flags of TWFieldlistMerge and TWFieldlistMergeVirtual. */
#define TWMERGEF_MAP_NAME 0x1
#define TWMERGEF_NAME_LOSS 0x2
#define TWMERGEF_DATA_LOSS 0x4
#define TWMERGEF_FETCH 0x10
#define TWMERGEF_INSERT 0x20
#define TWMERGEF_UPDATE 0x40
#define TWMERGEF_REMOVE 0x80
#define TWMERGEF_CREATE 0x100
#define TWMERGEF_DROP 0x200
#define TWMERGEF_KEY 0x400

/* TWMASK_ (1): The bits of a connection code that name the link (virtual-field codes
 * compare under it). */
#define TWMASK_LINK_CODE 0xffff0000

/* TWCOUNT_ (1): An affected count that cannot be told. */
#define TWCOUNT_UNKNOWN 0xffffffff

/* TWOBJECT_ (5): Catalogue object kinds (connection layer). */
#define TWOBJECT_SERVER 0x1
#define TWOBJECT_DATABASE 0x2
#define TWOBJECT_METADATA 0x3
#define TWOBJECT_INDEX 0x4
#define TWOBJECT_FIELD 0x5

/* TWACTION_ (4): Connection actions (connection layer). */
#define TWACTION_RESET 0x1
#define TWACTION_TRUNCATE 0x2
#define TWACTION_COMMIT 0x3
#define TWACTION_ROLLBACK 0x4

/* TWPROPSTORE_ (3): Where an activity property is kept (activity layer). */
#define TWPROPSTORE_STATIC 0x1
#define TWPROPSTORE_DYNAMIC 0x2
#define TWPROPSTORE_SYSTEM 0x3

/* TWLOGSTREAMF_ (1): Flags of the activity log calls (activity layer). */
#define TWLOGSTREAMF_EVENT 0x1

/* TWACTRUNF_ (1): Flags of running other activities (activity layer). */
#define TWACTRUNF_SYNCHRONOUS 0x1

/* TWTOKENF_ (6): Property token bits: the top byte selects the link, the next bits the
 * group. */
#define TWTOKENF_PREDEF 0x10000
#define TWTOKENF_CONTROL 0x20000
#define TWTOKENF_RESERVED 0x800000
#define TWTOKENF_SRC 0x1000000
#define TWTOKENF_DEST 0x2000000
#define TWTOKENF_EXTERN 0xff000000

/* TWTOKEN_ (25): Property tokens and their masks. */
#define TWTOKEN_VALUE_MASK 0xffffff
#define TWTOKEN_LINK_MASK 0xff000000
#define TWTOKEN_PREDEF 0x10000
#define TWTOKEN_CONTROL 0x30000
#define TWTOKEN_LIBRARY 0x30001
#define TWTOKEN_LINK 0x30002
#define TWTOKEN_OPTION 0x30003
#define TWTOKEN_NAME 0x30004
#define TWTOKEN_LINK_CODE 0x30005
#define TWTOKEN_CONNECT_CODE 0x30006
#define TWTOKEN_SERVER 0x10001
#define TWTOKEN_DATABASE 0x10002
#define TWTOKEN_USERID 0x10003
#define TWTOKEN_PASSWORD 0x10004
#define TWTOKEN_METADATA 0x10005
#define TWTOKEN_INDEX 0x10006
#define TWTOKEN_MAP_NAME 0x10007
#define TWTOKEN_WRITEBACK 0x10008
#define TWTOKEN_FIELD_LIST 0x10009
#define TWTOKEN_ORDER_LIST 0x1000a
#define TWTOKEN_CONDITION 0x1000b
#define TWTOKEN_STAMPFIELD 0x1000c
#define TWTOKEN_BASESTAMP 0x1000d
#define TWTOKEN_MAXSTAMP 0x1000e
#define TWTOKEN_TEXT_FORMAT 0x1000f

/* TWSTATUSF_ (1): Set on a message id: an event or log entry, not a failure. */
/* TWSTATUSF_EVENT 0x10000000   (twstatus.h) */

/* TWXPKG_ (8): Message packages: bits 8 to 15 of a status. */
#define TWXPKG_GENERAL 0x100
#define TWXPKG_TWX 0x3000
#define TWXPKG_TWXEX 0x3100
#define TWXPKG_TWXEXFIELD 0x3200
#define TWXPKG_EXTERNAL 0x7000
#define TWXPKG_ACTIVITY 0x7200
#define TWXPKG_LINK 0x7400
#define TWXPKG_MASK 0xff00

/* TWSUCCESS (1): Success. */
/* TWSUCCESS 0x0   (twstatus.h) */

/* TWFAIL_ (67): Failure statuses: message-catalogue ids. */
/* TWFAIL_PROGRAM               0x101   (twstatus.h) */
/* TWFAIL_MEMORY                0x102   (twstatus.h) */
/* TWFAIL_UNAVAILABLE           0x3001   (twstatus.h) */
/* TWFAIL_END_OF_DATA           0x3002   (twstatus.h) */
/* TWFAIL_INVALID_INDEX         0x3003   (twstatus.h) */
/* TWFAIL_INVALID_LIST          0x3004   (twstatus.h) */
/* TWFAIL_INVALID_CONVERT       0x3005   (twstatus.h) */
/* TWFAIL_INVALID_TEXT_LIST     0x3006   (twstatus.h) */
/* TWFAIL_INVALID_NUMBER_LIST   0x3007   (twstatus.h) */
/* TWFAIL_INVALID_DATETIME_LIST 0x3008   (twstatus.h) */
/* TWFAIL_ZERO_INDEX            0x3009   (twstatus.h) */
/* TWFAIL_ZERO_COUNT            0x300a   (twstatus.h) */
/* TWFAIL_ZERO_OFFSET           0x300b   (twstatus.h) */
/* TWFAIL_ZERO_FORMAT           0x300c   (twstatus.h) */
/* TWFAIL_NULL_BUFFER           0x300d   (twstatus.h) */
/* TWFAIL_NULL_RESULT           0x300e   (twstatus.h) */
/* TWFAIL_FIXED_LENGTH          0x300f   (twstatus.h) */
/* TWFAIL_INVALID_FLAGS         0x3010   (twstatus.h) */
/* TWFAIL_TEXT_TRANSLATE        0x3011   (twstatus.h) */
/* TWFAIL_NULL_FIELDNAME        0x3012   (twstatus.h) */
/* TWFAIL_INVALID_FIELDLIST     0x3013   (twstatus.h) */
/* TWFAIL_INVALID_CONNECT       0x3014   (twstatus.h) */
/* TWFAIL_EMPTY_FIELDLIST       0x3015   (twstatus.h) */
/* TWFAIL_NAME_FIELDLIST        0x3016   (twstatus.h) */
/* TWFAIL_FIELDLIST_REF         0x3017   (twstatus.h) */
/* TWFAIL_RECORD_INDEX          0x3018   (twstatus.h) */
/* TWFAIL_RECORD_COUNT          0x3019   (twstatus.h) */
/* TWFAIL_LIST_SETUP            0x301a   (twstatus.h) */
/* TWFAIL_NO_MERGE_DATA         0x301b   (twstatus.h) */
/* TWFAIL_NO_RESULTSET          0x301c   (twstatus.h) */
/* TWFAIL_NO_WRITEBACK          0x301d   (twstatus.h) */
/* TWFAIL_WRITEBACK_COUNT       0x301e   (twstatus.h) */
/* TWFAIL_STATIC_PROPERTY       0x301f   (twstatus.h) */
/* TWFAIL_TWXINIT               0x3020   (twstatus.h) */
/* TWFAIL_ACTIVITY_NOT_INIT     0x3021   (twstatus.h) */
/* TWFAIL_ACTRUN_TIMEOUT        0x3022   (twstatus.h) */
/* TWFAIL_NOT_CONNECTED         0x3023   (twstatus.h) */
/* TWFAIL_CONNECTED             0x3024   (twstatus.h) */
/* TWFAIL_EXTERNAL              0x3025   (twstatus.h) */
/* TWFAIL_INVALID_METADATA      0x3101   (twstatus.h) */
/* TWFAIL_TYPE_MISMATCH         0x3102   (twstatus.h) */
/* TWFAIL_DUPLICATE             0x3103   (twstatus.h) */
/* TWFAIL_FIELD_COUNT_MISMATCH  0x3104   (twstatus.h) */
/* TWFAIL_KEY_COUNT_MISMATCH    0x3105   (twstatus.h) */
/* TWFAIL_STAMPFIELD_TYPE       0x3106   (twstatus.h) */
/* TWFAIL_FIELD_TYPE            0x3107   (twstatus.h) */
/* TWFAIL_MERGE_FIELD           0x3108   (twstatus.h) */
/* TWFAIL_MISSING_PROPERTY      0x3109   (twstatus.h) */
/* TWFAIL_PROPERTY_CONFLICT     0x310a   (twstatus.h) */
/* TWFAIL_INVALID_PROPERTY      0x310b   (twstatus.h) */
/* TWFAIL_PROPERTY_VALUE        0x310c   (twstatus.h) */
/* TWFAIL_OVERFLOW              0x3201   (twstatus.h) */
/* TWFAIL_PRECISION_LOSS        0x3202   (twstatus.h) */
/* TWFAIL_INVALID_INT           0x3203   (twstatus.h) */
/* TWFAIL_INVALID_FLOAT         0x3204   (twstatus.h) */
/* TWFAIL_INVALID_CURRENCY      0x3205   (twstatus.h) */
/* TWFAIL_INVALID_NUMERIC       0x3206   (twstatus.h) */
/* TWFAIL_INVALID_DATETIME      0x3207   (twstatus.h) */
/* TWFAIL_INVALID_STREAM        0x3208   (twstatus.h) */
/* TWFAIL_INVALID_FIELD         0x3209   (twstatus.h) */
/* TWFAIL_INVALID_TYPE          0x320a   (twstatus.h) */
/* TWFAIL_INVALID_KEY           0x320b   (twstatus.h) */
/* TWFAIL_DUPLICATE_KEY         0x320c   (twstatus.h) */
/* TWFAIL_INVALID_STAMPFIELD    0x320d   (twstatus.h) */
/* TWFAIL_INVALID_FIELDNAME     0x320e   (twstatus.h) */
/* TWFAIL_VIRTUAL_FIELD         0x320f   (twstatus.h) */
/* TWFAIL_VIRTUAL_VALUE         0x3210   (twstatus.h) */

/* TWEVENT_ (2): Event statuses (TWSTATUSF_EVENT set on a catalogue id). */
/* TWEVENT_EXTERNAL             0x10003026   (twstatus.h) */
/* TWEVENT_CHARACTER_SET        0x1000310d   (twstatus.h) */

#endif /* TW_FLOWCORE_TWCONST_H_ */
