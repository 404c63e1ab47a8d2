// CL_ClientSet: the bindings told after (or asked before) an object changes, and the
// dependents record of an object that holds its two sets.
#ifndef TW_TWCL_BASE_CLIENT_SET_H_
#define TW_TWCL_BASE_CLIENT_SET_H_

#include <memory>
#include <vector>

#include "twcl/base/binding.h"
#include "twcl/base/object.h"

// Holds clones of the bindings added to it, in the order they were added; no two equal.
// A binding that is removed while the set is being walked (from inside an Execute) leaves
// a null entry until the outermost walk ends: walks skip null entries and never touch a
// deleted binding; bindings added during a walk are not visited by it.
class CL_ClientSet : public CL_Object {
 public:
  CL_ClientSet();
  ~CL_ClientSet() override;  // DestroyContents
  CL_ClientSet(const CL_ClientSet&) = delete;
  CL_ClientSet& operator=(const CL_ClientSet&) = delete;
  using CL_Object::operator=;

  const char* ClassName() const override;  // "CL_ClientSet"; ClassId stays 1
  // One line per binding: "  -- " + its AsString + "\n", or "  --\n" for a null entry.
  CL_String AsString() const override;

  // Stores a clone; false (clone deleted) when an equal binding is present.
  bool Add(const CL_AbstractBinding& binding);
  // False when no equal binding is present; else removes and deletes the stored clone,
  // calls this set's own Notify, true.
  bool Remove(const CL_AbstractBinding& binding);
  bool Includes(const CL_AbstractBinding& binding) const;
  // The stored binding equal to the argument (owned by the set), or null.
  CL_AbstractBinding* Find(const CL_AbstractBinding& binding) const;
  // Execute(value) on every binding in order.
  void NotifyAll(CL_Word value);
  // Execute(value) in order; false at the first false (the rest are not asked); true when
  // none refuses, also for an empty set.
  bool Permits(CL_Word value);
  // Deletes every stored binding and empties the set.
  void DestroyContents();
  CL_Long Size() const;

 private:
  void _Compact();  // drops null entries once no walk is running

  std::vector<std::unique_ptr<CL_AbstractBinding>> _bindings;
  // Bindings removed during a walk, deleted when the outermost walk ends.
  std::vector<std::unique_ptr<CL_AbstractBinding>> _deferred;
  int _walking = 0;
};

// Created by an object on its first dependent; destroyed with the object.
struct CL_DependentsRecord {
  CL_ClientSet post_change;  // told after a change (Notify)
  CL_ClientSet pre_change;   // asked before a change (PrepareToChange)
};

#endif  // TW_TWCL_BASE_CLIENT_SET_H_
