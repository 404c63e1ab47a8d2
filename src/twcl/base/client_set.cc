// CL_ClientSet: the bindings an object asks before and tells after a change, safe against
// bindings that add or remove bindings while the set is being walked.
#include "twcl/base/client_set.h"

#include <algorithm>

CL_ClientSet::CL_ClientSet() = default;

CL_ClientSet::~CL_ClientSet() {
  DestroyContents();
}

const char* CL_ClientSet::ClassName() const {
  return "CL_ClientSet";
}

CL_String CL_ClientSet::AsString() const {
  CL_String text;
  for (const auto& binding : _bindings) {
    if (binding) {
      text += "  -- ";
      text += binding->AsString();
      text += "\n";
    } else {
      text += "  --\n";
    }
  }
  return text;
}

bool CL_ClientSet::Add(const CL_AbstractBinding& binding) {
  if (Find(binding) != nullptr) return false;
  std::unique_ptr<CL_Object> clone(binding.Clone());
  auto* stored = dynamic_cast<CL_AbstractBinding*>(clone.get());
  if (stored == nullptr) return false;
  clone.release();
  // Appended: a walk in progress stops at the size it started with.
  _bindings.emplace_back(stored);
  return true;
}

bool CL_ClientSet::Remove(const CL_AbstractBinding& binding) {
  const auto it = std::find_if(_bindings.begin(), _bindings.end(), [&](const auto& stored) {
    return stored && stored->Compare(binding) == 0;
  });
  if (it == _bindings.end()) return false;
  if (_walking > 0) {
    // The removed binding may be the one executing right now: keep it alive until the
    // outermost walk ends.
    _deferred.push_back(std::move(*it));
  } else {
    _bindings.erase(it);
  }
  Notify();
  return true;
}

bool CL_ClientSet::Includes(const CL_AbstractBinding& binding) const {
  return Find(binding) != nullptr;
}

CL_AbstractBinding* CL_ClientSet::Find(const CL_AbstractBinding& binding) const {
  for (const auto& stored : _bindings)
    if (stored && stored->Compare(binding) == 0) return stored.get();
  return nullptr;
}

void CL_ClientSet::NotifyAll(CL_Word value) {
  ++_walking;
  // By index: bindings may be appended (and the vector reallocated) during the walk.
  const std::size_t count = _bindings.size();
  for (std::size_t i = 0; i < count; ++i)
    if (CL_AbstractBinding* binding = _bindings[i].get()) binding->Execute(value);
  if (--_walking == 0) _Compact();
}

bool CL_ClientSet::Permits(CL_Word value) {
  ++_walking;
  bool permitted = true;
  const std::size_t count = _bindings.size();
  for (std::size_t i = 0; i < count && permitted; ++i)
    if (CL_AbstractBinding* binding = _bindings[i].get()) permitted = binding->Execute(value);
  if (--_walking == 0) _Compact();
  return permitted;
}

void CL_ClientSet::DestroyContents() {
  if (_walking > 0) {
    for (auto& binding : _bindings)
      if (binding) _deferred.push_back(std::move(binding));
    return;
  }
  _bindings.clear();
  _deferred.clear();
}

CL_Long CL_ClientSet::Size() const {
  return static_cast<CL_Long>(std::count_if(_bindings.begin(), _bindings.end(),
                                            [](const auto& b) { return b != nullptr; }));
}

void CL_ClientSet::_Compact() {
  std::erase(_bindings, nullptr);
  _deferred.clear();
}
