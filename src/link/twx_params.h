// Per-record writes of a connector, done the cheap way: the statement text prepared once on a
// kept handle and only executed per record (PreparedText), and a block of records gathered
// into parameter arrays bound once and executed in one call where the client library offers
// arrays (ParameterBlock). Neither knows the client library: a connector keeps one
// PreparedText per statement handle and asks it before preparing, and hands the arrays of a
// ParameterBlock to its library's bind call.
//
// Thread rules: used by the one thread that uses the connection.
#ifndef TW_LINK_TWX_PARAMS_H_
#define TW_LINK_TWX_PARAMS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace tw::twx {

// Which text a kept statement handle holds prepared. A handle freed or allocated again holds
// none (Forget); a text that differs from the held one must be prepared, and is held once
// its preparation succeeded (Hold).
class PreparedText {
 public:
  bool Holds(std::string_view text) const { return held_ && text_ == text; }
  void Hold(std::string_view text) {
    text_.assign(text);
    held_ = true;
  }
  void Forget() {
    held_ = false;
    text_.clear();
  }

 private:
  std::string text_;
  bool held_ = false;
};

// Column-wise parameter arrays of up to a block of records: for each parameter one array of
// equal-width elements and one array of lengths (kNull for a null value). Values are copied
// in as each record is converted, so a conversion buffer may be reused for the next record.
class ParameterBlock {
 public:
  static constexpr int64_t kNull = -1;

  // Forgets every value; parameters arrays of rows elements follow.
  void Reset(size_t parameters, size_t rows) {
    rows_ = rows;
    params_.resize(parameters);
    for (Param& p : params_) {
      p.staged.clear();
      p.offsets.assign(rows, 0);
      p.lengths.assign(rows, kNull);
      p.width = 1;
    }
  }
  // Parameter p's elements are at least width bytes (a fixed-size value type has its size
  // as its stride whatever the values).
  void AtLeast(size_t p, size_t width) {
    if (width > params_[p].width) params_[p].width = width;
  }
  size_t parameters() const { return params_.size(); }
  size_t rows() const { return rows_; }

  // The value of parameter p (from 0) for row r (from 0): length bytes at data, or null.
  void Set(size_t p, size_t r, const void* data, int64_t length, bool null) {
    Param& param = params_[p];
    if (null) {
      param.lengths[r] = kNull;
      return;
    }
    param.offsets[r] = param.staged.size();
    param.lengths[r] = length;
    if (length > 0) {
      const auto* bytes = static_cast<const char*>(data);
      param.staged.insert(param.staged.end(), bytes, bytes + length);
      if (static_cast<size_t>(length) > param.width) param.width = static_cast<size_t>(length);
    }
  }

  // Lays the first rows values of every parameter out as arrays; after it Data, Width and
  // Lengths describe them until the next Reset or Pack.
  void Pack(size_t rows) {
    moved_ = packs_ != params_.size();
    packs_ = params_.size();
    for (Param& p : params_) {
      p.packed.assign(p.width * (rows == 0 ? 1 : rows), 0);
      for (size_t r = 0; r < rows; ++r)
        if (p.lengths[r] > 0)
          std::memcpy(p.packed.data() + r * p.width, p.staged.data() + p.offsets[r],
                      static_cast<size_t>(p.lengths[r]));
      const Layout now{p.packed.data(), p.width, p.lengths.data()};
      if (!(now == p.layout)) moved_ = true;
      p.layout = now;
    }
  }
  // Whether the last Pack put any array at another address or width than the Pack before it:
  // arrays handed to the client library before must then be handed again.
  bool Moved() const { return moved_; }
  void* Data(size_t p) { return params_[p].packed.data(); }
  // The element width of parameter p: its longest value among the rows set (1 when all are
  // empty or null).
  size_t Width(size_t p) const { return params_[p].width; }
  int64_t* Lengths(size_t p) { return params_[p].lengths.data(); }

 private:
  struct Layout {
    const void* data = nullptr;
    size_t width = 0;
    const int64_t* lengths = nullptr;
    bool operator==(const Layout&) const = default;
  };
  struct Param {
    Layout layout;  // where the last Pack left the arrays
    std::vector<char> staged;
    std::vector<size_t> offsets;
    std::vector<int64_t> lengths;
    std::vector<char> packed;
    size_t width = 1;
  };
  std::vector<Param> params_;
  size_t rows_ = 0;
  size_t packs_ = 0;  // parameters of the last Pack
  bool moved_ = true;
};

}  // namespace tw::twx

#endif  // TW_LINK_TWX_PARAMS_H_
