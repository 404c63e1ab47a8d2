// Builds a template database from its readable description: a JSON object with the title,
// forms (fields with types and default formulas), views (selection, columns with sort,
// category and expand), agents, documents and access list. Used by the administration tool.
// Never exported.
//
// {"title": "...",
//  "forms": [{"name": "...", "fields": [{"name": "...", "type": "text", "default": "'x'",
//                                        "stored": true}]}],
//  "views": [{"name": "...", "style": "standard" | "temporary", "responses": false,
//             "selection": "SELECT ...",
//             "columns": [{"title": "...", "formula": "...",
//                          "sort": "none" | "ascending" | "descending",
//                          "category": false, "expand": false}]}],
//  "agents": [{"name": "...", "kind": "acts" | "selects", "selection": "...", "action": "..."}],
//  "documents": [{"class": "document" | "info",
//                 "items": [{"name": "...", "type": "...", "value": ...}]}],
//  "acl": [{"name": "", "access": "manager"}]}
// Types: number, text, time, textlist, numberlist, timelist, richtext, other. Values: a
// number, a text, a date-time text ("YYYY-MM-DD HH:MM:SS", the machine's zone), arrays of
// those for lists, the text of rich text, the bytes of other as a text. Access: none,
// reader, author, editor, manager or a number.
#ifndef TW_OUTSIDE_PLEXAPI_TEMPLATE_BUILD_H_
#define TW_OUTSIDE_PLEXAPI_TEMPLATE_BUILD_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace plexa {

// Builds the template file out (a database with is_template set) from description; an
// existing out is replaced only once the build succeeded. On failure error says what is
// wrong where (e.g. "views[2].columns[0]: formula at byte 4").
[[nodiscard]] uint32_t BuildTemplate(std::string_view description, const std::string& out,
                                     std::string& error);

}  // namespace plexa

#endif  // TW_OUTSIDE_PLEXAPI_TEMPLATE_BUILD_H_
