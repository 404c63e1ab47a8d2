// CL_AbstractIterator: the walking protocol of the library's iterators (bit sets, sets,
// maps). Item is what Next answers.
#ifndef TW_TWCL_BASE_ITERATOR_H_
#define TW_TWCL_BASE_ITERATOR_H_

#include "twcl/base/object.h"

template <class Item>
class CL_AbstractIterator : public CL_Object {
 public:
  ~CL_AbstractIterator() override = default;
  // Start again before the first item.
  virtual void Reset() = 0;
  // True while items remain.
  virtual bool More() = 0;
  // The next item; past the end each iterator answers its neutral item.
  virtual Item Next() = 0;

 protected:
  CL_AbstractIterator() = default;
  CL_AbstractIterator(const CL_AbstractIterator& other) = default;
  CL_AbstractIterator& operator=(const CL_AbstractIterator&) { return *this; }
  using CL_Object::operator=;
};

#endif  // TW_TWCL_BASE_ITERATOR_H_
