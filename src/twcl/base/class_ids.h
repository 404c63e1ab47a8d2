// The class ids of the foundation classes, as ClassId answers them and as the object
// stream stores them (4 bytes, little-endian). Ids of the visual classes start at 200.
#ifndef TW_TWCL_BASE_CLASS_IDS_H_
#define TW_TWCL_BASE_CLASS_IDS_H_

#include "twcl/base/types.h"

// Also the id of CL_ClientSet and of every class that keeps CL_Object's.
inline constexpr CL_Long CL_ClassId_Object = 1;
inline constexpr CL_Long CL_ClassId_Binding0 = 2;
inline constexpr CL_Long CL_ClassId_Binding2 = 4;
inline constexpr CL_Long CL_ClassId_Integer = 5;
inline constexpr CL_Long CL_ClassId_String = 6;
inline constexpr CL_Long CL_ClassId_ByteArray = 7;
inline constexpr CL_Long CL_ClassId_ByteString = 8;
inline constexpr CL_Long CL_ClassId_Date = 9;
inline constexpr CL_Long CL_ClassId_TimeOfDay = 10;
inline constexpr CL_Long CL_ClassId_Map = 11;
inline constexpr CL_Long CL_ClassId_IntStringMap = 12;
inline constexpr CL_Long CL_ClassId_IntIntMap = 13;
inline constexpr CL_Long CL_ClassId_IntPtrMap = 14;
inline constexpr CL_Long CL_ClassId_StringStringMap = 15;
inline constexpr CL_Long CL_ClassId_StringIntMap = 16;
inline constexpr CL_Long CL_ClassId_StringPtrMap = 17;
inline constexpr CL_Long CL_ClassId_PtrIntMap = 19;
inline constexpr CL_Long CL_ClassId_Tree = 20;
inline constexpr CL_Long CL_ClassId_BitSet = 21;
inline constexpr CL_Long CL_ClassId_Sequence = 22;  // also CL_GenericSequence
inline constexpr CL_Long CL_ClassId_IntegerSequence = 23;
inline constexpr CL_Long CL_ClassId_ObjectSequence = 24;
inline constexpr CL_Long CL_ClassId_StringSequence = 25;
inline constexpr CL_Long CL_ClassId_Set = 26;
inline constexpr CL_Long CL_ClassId_IntegerSet = 27;
inline constexpr CL_Long CL_ClassId_ObjectSet = 28;
inline constexpr CL_Long CL_ClassId_Stream = 30;
inline constexpr CL_Long CL_ClassId_ByteStream = 31;
inline constexpr CL_Long CL_ClassId_BinaryFile = 32;
inline constexpr CL_Long CL_ClassId_FirstVisual = 200;

#endif  // TW_TWCL_BASE_CLASS_IDS_H_
