// The client code page of XandbCLI: XandbCODEPAGE, read as the Xandb client reads it, names the
// page of the caller's texts; the engines hold UTF-8. Conversion is by iconv.
#ifndef TW_OUTSIDE_XANDBCLI_CODEPAGE_H_
#define TW_OUTSIDE_XANDBCLI_CODEPAGE_H_

#include <iconv.h>

#include <memory>
#include <string>
#include <string_view>

namespace xandbcli {

// The iconv name of a client code page; null for a page the client does not convert (0,
// unknown pages, and 1363, which the connector takes as the native UTF-8).
[[nodiscard]] const char* IconvNameOfCodePage(long page);

// The number of XandbCODEPAGE's text as the C library's decimal conversion reads it (leading
// blanks, a sign, digits; the rest ignored); 0 when unset or not a number.
[[nodiscard]] long CodePageOfText(const char* text);

// One conversion pair between a client page and UTF-8. Not thread-safe: a connection's pair
// serves its one thread at a time.
class CodePage {
 public:
  // The page of XandbCODEPAGE now, or null when texts pass unconverted.
  [[nodiscard]] static std::shared_ptr<CodePage> FromEnvironment();
  ~CodePage();
  CodePage(const CodePage&) = delete;
  CodePage& operator=(const CodePage&) = delete;

  // in converted into *out; false on bytes invalid in the source page or with no form in the
  // target (out is then unspecified).
  [[nodiscard]] bool ToEngine(std::string_view in, std::string* out) {
    return Run(to_engine_, in, out);
  }
  [[nodiscard]] bool ToClient(std::string_view in, std::string* out) {
    return Run(to_client_, in, out);
  }

 private:
  CodePage(iconv_t to_engine, iconv_t to_client) : to_engine_(to_engine), to_client_(to_client) {}
  static bool Run(iconv_t cd, std::string_view in, std::string* out);
  iconv_t to_engine_;
  iconv_t to_client_;
};

}  // namespace xandbcli

#endif  // TW_OUTSIDE_XANDBCLI_CODEPAGE_H_
