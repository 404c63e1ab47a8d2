// Look-up and defaults of the text-file connector's property table.
#include "properties.h"

namespace flatrec {

const PropDef* FindProperty(uint32_t token) {
  for (const PropDef& p : kProperties)
    if (p.token == token) return &p;
  return nullptr;
}

void SetDefaults(Props* props) {
  *props = Props{};
  for (const PropDef& p : kProperties) {
    if (p.kind == PropKind::kText)
      props->*(p.text) = p.defaultText;
    else
      props->*(p.word) = p.defaultInt;
  }
}

}  // namespace flatrec
