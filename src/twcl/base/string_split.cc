// CL_String's two splitting operations that answer string sequences.
#include <cstring>

#include "twcl/base/sequence.h"
#include "twcl/base/string.h"

CL_StringSequence CL_String::Split(const char* separators) const {
  CL_StringSequence fields;
  CL_StringSplitter splitter(*this, separators);
  // Runs of separators make no empty fields, so an empty field is the end.
  for (CL_String field = splitter.Next(); field.Size() > 0; field = splitter.Next())
    fields.Add(field);
  return fields;
}

CL_StringSequence CL_String::SplitOn(char c) const {
  CL_StringSequence fields;
  const char* text = AsPtr();
  const char* const end = text + _length;
  for (;;) {
    const auto* found =
        static_cast<const char*>(std::memchr(text, c, static_cast<std::size_t>(end - text)));
    const char* field_end = found != nullptr ? found : end;
    fields.Add(CL_String(text, static_cast<CL_Long>(field_end - text)));
    if (found == nullptr) return fields;
    text = found + 1;
  }
}
