// Documents as plexadm imports them, for the Ordex tests: response hierarchies with
// identities given, and attachments.
#ifndef TW_TESTS_LINK_ORDEX_ORDEX_JSONL_H_
#define TW_TESTS_LINK_ORDEX_ORDEX_JSONL_H_

#include <cstdio>
#include <string>

namespace ordex_test {

// The identity numbered n, as 32 hexadecimal digits.
inline std::string Unid(int n) {
  char text[40];
  std::snprintf(text, sizeof text, "%032d", n);
  return text;
}

// A JSON line of a Topic document of identity id under parent (0: none), with an attachment
// "same.txt" holding the base64 data when given.
inline std::string Topic(int id, const std::string& subject, int parent,
                         const std::string& data = "") {
  std::string line = R"({"unid":")" + Unid(id) + R"(","parent":)" +
                     (parent != 0 ? "\"" + Unid(parent) + "\"" : std::string("null")) +
                     R"(,"items":[{"name":"Form","type":"text","value":"Topic"},)"
                     R"({"name":"Subject","type":"text","value":")" +
                     subject + R"("}])";
  if (!data.empty()) line += R"(,"attachments":[{"name":"same.txt","data":")" + data + R"("}])";
  return line + "}\n";
}

}  // namespace ordex_test

#endif  // TW_TESTS_LINK_ORDEX_ORDEX_JSONL_H_
