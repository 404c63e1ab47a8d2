// XandbCODEPAGE and the iconv pair it names.
#include "codepage.h"

#include <cerrno>
#include <cstdlib>

namespace xandbcli {
namespace {

struct PageName {
  long page;
  const char* iconv;
};

// The pages the connector knows, by the name iconv gives each.
constexpr PageName kPages[] = {
    {437, "CP437"},   {813, "IBM813"},   {850, "CP850"},   {852, "CP852"},   {855, "CP855"},
    {857, "CP857"},   {862, "CP862"},    {863, "CP863"},   {864, "CP864"},   {866, "CP866"},
    {869, "CP869"},   {932, "CP932"},    {942, "IBM943"},  {943, "IBM943"},  {949, "CP949"},
    {950, "CP950"},   {1004, "IBM1004"}, {1250, "CP1250"}, {1251, "CP1251"}, {1252, "CP1252"},
    {1253, "CP1253"}, {1254, "CP1254"},  {1255, "CP1255"}, {1256, "CP1256"}, {1381, "GBK"},
};

}  // namespace

const char* IconvNameOfCodePage(long page) {
  for (const PageName& p : kPages)
    if (p.page == page) return p.iconv;
  return nullptr;
}

long CodePageOfText(const char* text) {
  return text == nullptr ? 0 : std::strtol(text, nullptr, 10);
}

std::shared_ptr<CodePage> CodePage::FromEnvironment() {
  const char* name = IconvNameOfCodePage(CodePageOfText(std::getenv("XandbCODEPAGE")));
  if (name == nullptr) return nullptr;
  iconv_t to_engine = ::iconv_open("UTF-8", name);
  if (to_engine == reinterpret_cast<iconv_t>(-1)) return nullptr;
  iconv_t to_client = ::iconv_open(name, "UTF-8");
  if (to_client == reinterpret_cast<iconv_t>(-1)) {
    ::iconv_close(to_engine);
    return nullptr;
  }
  return std::shared_ptr<CodePage>(new CodePage(to_engine, to_client));
}

CodePage::~CodePage() {
  ::iconv_close(to_engine_);
  ::iconv_close(to_client_);
}

bool CodePage::Run(iconv_t cd, std::string_view in, std::string* out) {
  ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out->assign(in.size() * 4 + 4, '\0');
  char* from = const_cast<char*>(in.data());
  size_t from_left = in.size();
  char* to = out->data();
  size_t to_left = out->size();
  while (from_left > 0) {
    if (::iconv(cd, &from, &from_left, &to, &to_left) != static_cast<size_t>(-1)) continue;
    if (errno != E2BIG) return false;
    const size_t used = out->size() - to_left;
    out->resize(out->size() * 2);
    to = out->data() + used;
    to_left = out->size() - used;
  }
  // Shift sequences of stateful pages end here.
  if (::iconv(cd, nullptr, nullptr, &to, &to_left) == static_cast<size_t>(-1)) return false;
  out->resize(out->size() - to_left);
  return true;
}

}  // namespace xandbcli
