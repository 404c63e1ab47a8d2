// CL_BitSet and CL_BitSetIterator.
#include "twcl/base/bit_set.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

#include "twcl/base/byte_string.h"
#include "twcl/base/class_registry.h"
#include "twcl/base/error.h"
#include "twcl/base/object_stream.h"

namespace {

const CL_ClassIdEntry bit_set_entry(CL_ClassId_BitSet,
                                    []() -> CL_Object* { return new CL_BitSet; });

// Beyond this many words the bound would not fit a CL_Long.
constexpr std::int64_t kMaxWords = std::numeric_limits<CL_Long>::max() / 32;

using Words = std::vector<std::uint32_t>;

CL_Long CountMembers(const Words& words) {
  CL_Long count = 0;
  for (const std::uint32_t w : words) count += std::popcount(w);
  return count;
}

std::uint32_t WordOr0(const Words& words, std::size_t i) {
  return i < words.size() ? words[i] : 0;
}

// Word by word over the longer operand; missing words count as 0.
template <class Op>
Words Combine(const Words& a, const Words& b, Op op) {
  Words result(std::max(a.size(), b.size()));
  for (std::size_t i = 0; i < result.size(); ++i) result[i] = op(WordOr0(a, i), WordOr0(b, i));
  return result;
}

// The position of the bit of rank k (0-based) within w, which has more than k bits set.
CL_Long SelectBit(std::uint32_t w, CL_Long k) {
  for (; k > 0; --k) w &= w - 1;
  return std::countr_zero(w);
}

// A read-only stream over bytes in memory, for the constructor from a stored form.
class BytesReader : public CL_Stream {
 public:
  BytesReader(const unsigned char* bytes, CL_Long size) : _bytes(bytes), _size(size) {}
  using CL_Stream::Read;
  using CL_Stream::Write;
  using CL_Object::operator=;
  CL_Long Read(void* buffer, CL_Long count) override {
    const CL_Long n = std::clamp<CL_Long>(count, 0, _size - _position);
    if (n > 0) std::memcpy(buffer, _bytes + _position, static_cast<std::size_t>(n));
    _position += n;
    return n;
  }
  bool Write(const void*, CL_Long) override { return false; }
  bool SeekTo(CL_Long offset) override {
    if (offset < 0 || offset > _size) return false;
    _position = offset;
    return true;
  }
  bool ChangeSize(CL_Long) override { return false; }
  CL_Long Size() override { return _size; }
  CL_Long Offset() override { return _position; }

 private:
  const unsigned char* _bytes;
  CL_Long _size;
  CL_Long _position = 0;
};

}  // namespace

// ---- CL_BitSet

CL_BitSet::CL_BitSet(CL_Long bound) {
  if (bound > 0) _words.assign(static_cast<std::size_t>((std::int64_t{bound} + 31) / 32), 0);
}

CL_BitSet::CL_BitSet(CL_Long low, CL_Long high, CL_Long bound)
    : CL_BitSet(bound < 0 ? 128 : bound) {
  const CL_Long last = std::min<CL_Long>(high, Bound() - 1);
  for (CL_Long i = std::max<CL_Long>(low, 0); i <= last; ++i) _words[i / 32] |= 1u << (i % 32);
  _count = CountMembers(_words);
}

CL_BitSet::CL_BitSet(const CL_BitSet& other)
    : CL_Object(other), _words(other._words), _count(other._count) {}

CL_BitSet::CL_BitSet(const CL_ByteString& stored) : CL_BitSet(0) {
  if (stored.AsPtr() == nullptr || stored.Size() <= 0) return;
  BytesReader reader(stored.AsPtr(), stored.Size());
  ReadFrom(reader);
}

CL_BitSet::CL_BitSet(CL_Long word_count, const std::uint32_t words[]) {
  if (words == nullptr || word_count <= 0 || word_count > kMaxWords) return;
  _words.assign(words, words + word_count);
  _count = CountMembers(_words);
}

CL_BitSet::~CL_BitSet() = default;

const char* CL_BitSet::ClassName() const {
  return "CL_BitSet";
}

CL_Long CL_BitSet::ClassId() const {
  return CL_ClassId_BitSet;
}

CL_Object* CL_BitSet::Clone() const {
  return new CL_BitSet(*this);
}

bool CL_BitSet::Includes(CL_Long i) const {
  return i >= 0 && i < Bound() && (_words[i / 32] >> (i % 32) & 1u) != 0;
}

bool CL_BitSet::Add(CL_Long i) {
  if (i < 0 || i >= Bound() || Includes(i) || !PrepareToChange()) return false;
  _words[i / 32] |= 1u << (i % 32);
  ++_count;
  Notify();
  return true;
}

CL_Long CL_BitSet::Remove(CL_Long i) {
  if (!Includes(i) || !PrepareToChange()) return -1;
  _words[i / 32] &= ~(1u << (i % 32));
  --_count;
  Notify();
  return i;
}

bool CL_BitSet::MakeEmpty() {
  if (!PrepareToChange()) return false;
  std::fill(_words.begin(), _words.end(), 0u);
  _count = 0;
  Notify();
  return true;
}

bool CL_BitSet::MakeUniversal() {
  if (!PrepareToChange()) return false;
  std::fill(_words.begin(), _words.end(), ~0u);
  _count = Bound();
  Notify();
  return true;
}

bool CL_BitSet::IsUniversal() const {
  return _count == Bound();
}

CL_Long CL_BitSet::Smallest() const {
  if (_count == 0) return -1;
  for (std::size_t w = 0; w < _words.size(); ++w)
    if (_words[w] != 0) return static_cast<CL_Long>(w) * 32 + std::countr_zero(_words[w]);
  CL_Error::Warning("CL_BitSet::Smallest: internal error");
  return 0;
}

CL_Long CL_BitSet::Largest() const {
  if (_count == 0) return -1;
  for (std::size_t w = _words.size(); w-- > 0;)
    if (_words[w] != 0) return static_cast<CL_Long>(w) * 32 + 31 - std::countl_zero(_words[w]);
  CL_Error::Warning("CL_BitSet::Largest: internal error");
  return -1;
}

CL_Long CL_BitSet::Successor(CL_Long i) const {
  if (_count == 0) return -1;
  const std::int64_t from = i < 0 ? 0 : std::int64_t{i} + 1;
  for (std::int64_t w = from / 32; w < WordCount(); ++w) {
    std::uint32_t bits = _words[static_cast<std::size_t>(w)];
    if (w == from / 32) bits &= ~0u << (from % 32);
    if (bits != 0) return static_cast<CL_Long>(w * 32 + std::countr_zero(bits));
  }
  // From below the first member something must be found when the count is right.
  if (i < 0) CL_Error::Warning("BitSet::Successor: internal error");
  return -1;
}

CL_Long CL_BitSet::SmallestNonMember() const {
  for (std::size_t w = 0; w < _words.size(); ++w)
    if (_words[w] != ~0u) return static_cast<CL_Long>(w) * 32 + std::countr_one(_words[w]);
  return Bound();
}

CL_Long CL_BitSet::RankOf(CL_Long i) const {
  if (i <= 0 || _count == 0) return 0;
  const CL_Long below = std::min(i, Bound());
  CL_Long rank = 0;
  for (CL_Long w = 0; w < below / 32; ++w) rank += std::popcount(_words[w]);
  if (below % 32 != 0) rank += std::popcount(_words[below / 32] & ((1u << (below % 32)) - 1));
  return rank;
}

CL_Long CL_BitSet::ItemWithRank(CL_Long k) const {
  if (_count == 0) return -1;
  k = std::clamp<CL_Long>(k, 0, _count - 1);
  for (std::size_t w = 0; w < _words.size(); ++w) {
    const CL_Long here = std::popcount(_words[w]);
    if (k < here) return static_cast<CL_Long>(w) * 32 + SelectBit(_words[w], k);
    k -= here;
  }
  return -1;
}

CL_BitSet CL_BitSet::operator+(const CL_BitSet& other) const {
  CL_BitSet result(0);
  result._words = Combine(_words, other._words, [](auto a, auto b) { return a | b; });
  result._count = CountMembers(result._words);
  return result;
}

CL_BitSet CL_BitSet::operator-(const CL_BitSet& other) const {
  CL_BitSet result(0);
  result._words = Combine(_words, other._words, [](auto a, auto b) { return a & ~b; });
  result._count = CountMembers(result._words);
  return result;
}

CL_BitSet CL_BitSet::operator*(const CL_BitSet& other) const {
  CL_BitSet result(0);
  result._words = Combine(_words, other._words, [](auto a, auto b) { return a & b; });
  result._count = CountMembers(result._words);
  return result;
}

CL_BitSet CL_BitSet::operator^(const CL_BitSet& other) const {
  CL_BitSet result(0);
  result._words = Combine(_words, other._words, [](auto a, auto b) { return a ^ b; });
  result._count = CountMembers(result._words);
  return result;
}

CL_BitSet& CL_BitSet::operator+=(const CL_BitSet& other) {
  return *this = *this + other;
}

CL_BitSet& CL_BitSet::operator-=(const CL_BitSet& other) {
  return *this = *this - other;
}

CL_BitSet& CL_BitSet::operator*=(const CL_BitSet& other) {
  return *this = *this * other;
}

CL_BitSet& CL_BitSet::operator^=(const CL_BitSet& other) {
  return *this = *this ^ other;
}

CL_BitSet CL_BitSet::operator~() const {
  CL_BitSet result(*this);
  for (std::uint32_t& w : result._words) w = ~w;
  result._count = Bound() - _count;
  return result;
}

bool CL_BitSet::operator==(const CL_Object& other) const {
  const auto* set = IsA(other) ? dynamic_cast<const CL_BitSet*>(&other) : nullptr;
  if (set == nullptr || set->_count != _count) return false;
  const std::size_t common = std::min(_words.size(), set->_words.size());
  return std::equal(_words.begin(), _words.begin() + common, set->_words.begin());
}

bool CL_BitSet::operator==(const CL_IntegerSet& set) const {
  return set.Size() == _count && IncludesAll(set);
}

bool CL_BitSet::IncludesAll(const CL_BitSet& other) const {
  for (std::size_t w = 0; w < other._words.size(); ++w)
    if ((other._words[w] & ~WordOr0(_words, w)) != 0) return false;
  return true;
}

bool CL_BitSet::IncludesAll(const CL_IntegerSet& set) const {
  for (CL_Long k = 0; k < set.Size(); ++k)
    if (!Includes(set.ItemWithRank(k))) return false;
  return true;
}

CL_IntegerSet CL_BitSet::AsSet() const {
  CL_IntegerSet set;
  for (CL_Long m = Successor(-1); m >= 0; m = Successor(m)) set.Add(m);
  return set;
}

CL_BitSet& CL_BitSet::operator=(const CL_BitSet& other) {
  if (&other == this || !PrepareToChange()) return *this;
  _words = other._words;
  _count = other._count;
  Notify();
  return *this;
}

CL_BitSet& CL_BitSet::operator=(const CL_Object& other) {
  if (!CheckClassId(other, "CL_BitSet::op= (CL_Object&)")) return *this;
  if (const auto* set = dynamic_cast<const CL_BitSet*>(&other)) operator=(*set);
  return *this;
}

CL_Long CL_BitSet::StorableFormWidth() const {
  return WordCount() * 4 + 12;
}

bool CL_BitSet::WriteTo(CL_Stream& s) const {
  if (!s.WriteLong(ClassId()) || !s.WriteLong(WordCount()) || !s.WriteLong(_count)) return false;
  for (const std::uint32_t w : _words)
    if (!s.WriteLong(static_cast<CL_Long>(w))) return false;
  return true;
}

bool CL_BitSet::ReadFrom(CL_Stream& s) {
  CL_Long word_count, count;
  if (!ReadClassId(s) || !s.ReadLong(word_count) || !s.ReadLong(count)) return false;
  if (word_count < 0 || word_count > kMaxWords || std::int64_t{word_count} * 4 > s.Remaining())
    return false;
  Words words(static_cast<std::size_t>(word_count));
  for (std::uint32_t& w : words) {
    CL_Long stored;
    if (!s.ReadLong(stored)) return false;
    w = static_cast<std::uint32_t>(stored);
  }
  // The stored count must be the members of the words: every query trusts it.
  if (count != CountMembers(words) || !PrepareToChange()) return false;
  _words = std::move(words);
  _count = count;
  Notify();
  return true;
}

// ---- CL_BitSetIterator

CL_BitSetIterator::CL_BitSetIterator(const CL_BitSet& set) : _set(&set) {
  Reset();
}

CL_BitSetIterator::~CL_BitSetIterator() = default;

CL_BitSetIterator::CL_BitSetIterator(const CL_BitSetIterator& other)
    : CL_AbstractIterator(other),
      _set(other._set),
      _word(other._word),
      _bit(other._bit),
      _returned(other._returned) {}

CL_BitSetIterator& CL_BitSetIterator::operator=(const CL_BitSetIterator& other) {
  _set = other._set;
  _word = other._word;
  _bit = other._bit;
  _returned = other._returned;
  return *this;
}

const char* CL_BitSetIterator::ClassName() const {
  return "CL_BitSetIterator";
}

void CL_BitSetIterator::Reset() {
  _word = 0;
  _bit = 0;
  _returned = 0;
}

bool CL_BitSetIterator::More() {
  return _returned < _set->Size();
}

CL_Long CL_BitSetIterator::Next() {
  // (_word, _bit) is the first position not yet looked at.
  const CL_Long member = _set->Successor(_word * 32 + _bit - 1);
  if (member < 0) {
    _word = _set->WordCount();
    _bit = 0;
    return -1;
  }
  _word = (member + 1) / 32;
  _bit = (member + 1) % 32;
  ++_returned;
  return member;
}

void CL_BitSetIterator::BeginFromRank(CL_Long k) {
  k = std::max<CL_Long>(k, 0);
  if (k >= _set->Size()) {
    _word = _set->WordCount();
    _bit = 0;
    _returned = _set->Size();
    return;
  }
  const CL_Long member = _set->ItemWithRank(k);
  _word = member / 32;
  _bit = member % 32;
  _returned = k;
}
