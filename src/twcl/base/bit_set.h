// CL_BitSet: a set of non-negative integers below a fixed bound (a multiple of 32), held as
// 32-bit words, with membership, order queries, set algebra and a stored form;
// CL_BitSetIterator walks its members in increasing order.
#ifndef TW_TWCL_BASE_BIT_SET_H_
#define TW_TWCL_BASE_BIT_SET_H_

#include <cstdint>
#include <vector>

#include "twcl/base/iterator.h"
#include "twcl/base/object.h"
#include "twcl/base/set.h"

class CL_ByteString;

// Member i is bit (i mod 32) of word (i div 32). Every change asks PrepareToChange first
// and ends with Notify.
class CL_BitSet : public CL_Object {
 public:
  explicit CL_BitSet(CL_Long bound = 128);  // ceil(bound / 32) zero words
  // Every integer from max(low, 0) to high (below the bound); a negative bound means 128.
  CL_BitSet(CL_Long low, CL_Long high, CL_Long bound);
  CL_BitSet(const CL_BitSet& other);
  // From a stored bit set (as ReadFrom); an empty 0-word set when it does not read.
  explicit CL_BitSet(const CL_ByteString& stored);
  // From word_count words; the members are counted.
  CL_BitSet(CL_Long word_count, const std::uint32_t words[]);
  ~CL_BitSet() override;

  const char* ClassName() const override;  // "CL_BitSet"
  CL_Long ClassId() const override;        // 21
  CL_Object* Clone() const override;

  CL_Long Bound() const { return static_cast<CL_Long>(_words.size()) * 32; }
  CL_Long Size() const { return _count; }  // number of members
  CL_Long WordCount() const { return static_cast<CL_Long>(_words.size()); }

  bool Includes(CL_Long i) const;  // false outside 0 .. Bound()-1
  bool Add(CL_Long i);             // false outside the bound or already a member
  CL_Long Remove(CL_Long i);       // i when removed, else -1
  bool MakeEmpty();
  bool MakeUniversal();
  bool IsUniversal() const;  // Size() == Bound()
  bool IsEmpty() const { return _count == 0; }
  CL_Long Smallest() const;            // -1 when empty
  CL_Long Largest() const;             // -1 when empty
  CL_Long Successor(CL_Long i) const;  // least member > i (i < 0: the smallest); -1
  CL_Long SmallestNonMember() const;   // Bound() when full
  CL_Long RankOf(CL_Long i) const;     // members below i
  // The member with k members below it, k clamped to 0 .. Size()-1; -1 when empty.
  CL_Long ItemWithRank(CL_Long k) const;

  // Results have as many words as the larger operand (missing words count as 0).
  CL_BitSet operator+(const CL_BitSet& other) const;  // union
  CL_BitSet operator-(const CL_BitSet& other) const;  // difference
  CL_BitSet operator*(const CL_BitSet& other) const;  // intersection
  CL_BitSet operator^(const CL_BitSet& other) const;  // symmetric difference
  CL_BitSet& operator+=(const CL_BitSet& other);
  CL_BitSet& operator-=(const CL_BitSet& other);
  CL_BitSet& operator*=(const CL_BitSet& other);
  CL_BitSet& operator^=(const CL_BitSet& other);
  CL_BitSet operator~() const;  // complement within the bound

  // Same count and the same words over the shorter array.
  bool operator==(const CL_Object& other) const override;
  bool operator==(const CL_IntegerSet& set) const;  // same size, every member in set
  bool IncludesAll(const CL_BitSet& other) const;
  bool IncludesAll(const CL_IntegerSet& set) const;
  CL_IntegerSet AsSet() const;

  // Takes other's words and count.
  CL_BitSet& operator=(const CL_BitSet& other);
  // Class check "CL_BitSet::op= (CL_Object&)", then as from a bit set.
  CL_BitSet& operator=(const CL_Object& other) override;

  // Stored form: id 21 (4), word count (4), count (4), the words (4 each). ReadFrom refuses
  // a negative word count, words that cannot fit in what remains, and a count that differs
  // from the members of the words; on failure the set is unchanged.
  CL_Long StorableFormWidth() const override;  // word count * 4 + 12
  bool ReadFrom(CL_Stream& s) override;
  bool WriteTo(CL_Stream& s) const override;

 private:
  friend class CL_BitSetIterator;

  std::vector<std::uint32_t> _words;
  CL_Long _count = 0;
};

// Walks a bit set (not owned) in increasing order.
class CL_BitSetIterator : public CL_AbstractIterator<CL_Long> {
 public:
  explicit CL_BitSetIterator(const CL_BitSet& set);  // Reset
  ~CL_BitSetIterator() override;
  CL_BitSetIterator(const CL_BitSetIterator& other);
  CL_BitSetIterator& operator=(const CL_BitSetIterator& other);
  using CL_Object::operator=;

  const char* ClassName() const override;  // "CL_BitSetIterator"

  void Reset() override;    // before the first member
  bool More() override;     // members returned < Size()
  CL_Long Next() override;  // the next member; -1 past the end
  // The next member returned is the one with rank max(k, 0).
  void BeginFromRank(CL_Long k);

 private:
  const CL_BitSet* _set;
  CL_Long _word = 0;
  CL_Long _bit = 0;
  CL_Long _returned = 0;
};

#endif  // TW_TWCL_BASE_BIT_SET_H_
