// Attachment entry points: list, extract into a file, attach a file, copy between documents.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "document.h"
#include "plexapi.h"
#include "session.h"
#include "value.h"

namespace plexa {
namespace {

constexpr size_t kMaxAttachment = 256u << 20;

// An attachment name is a plain file name: callers extract it into a directory by name.
[[nodiscard]] uint32_t CheckAttachmentName(std::string_view name) {
  if (name.empty() || name.size() >= sizeof(GVAttachmentInfo::name) || name == "." ||
      name == ".." || name.find('/') != std::string_view::npos ||
      name.find('\0') != std::string_view::npos)
    return Fail(GVERR_INVALID_ARGUMENT, "attachment name");
  return 0;
}

uint32_t WriteFile(const char* path, const std::string& data) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return Fail(GVERR_FILE, std::string(path) + ": " + std::strerror(errno));
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::string why = std::strerror(errno);
      close(fd);
      return Fail(GVERR_FILE, std::string(path) + ": " + why);
    }
    done += static_cast<size_t>(n);
  }
  if (close(fd) != 0) return Fail(GVERR_FILE, std::string(path) + ": " + std::strerror(errno));
  return 0;
}

uint32_t ReadFile(const char* path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(GVERR_FILE, std::string(path) + ": cannot be read");
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 0) return Fail(GVERR_FILE, std::string(path) + ": cannot be read");
  if (static_cast<uint64_t>(size) > kMaxAttachment) return Fail(GVERR_TOO_BIG, path);
  in.seekg(0, std::ios::beg);
  std::string data(static_cast<size_t>(size), '\0');
  if (size > 0 && !in.read(data.data(), size))
    return Fail(GVERR_FILE, std::string(path) + ": cannot be read");
  out = std::move(data);
  return 0;
}

}  // namespace
}  // namespace plexa

using plexa::Document;

extern "C" {

GV_API uint32_t GVAttachmentList(GVDOC doc, uint32_t position, GVAttachmentInfo* info) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (info == nullptr) return GVERR_INVALID_ARGUMENT;
    if (position != GV_LIST_FIRST && position != GV_LIST_NEXT) return GVERR_INVALID_ARGUMENT;
    if (position == GV_LIST_FIRST || !d->walk_active) {
      d->walk.clear();
      for (const auto& [name, a] : d->attachments()) d->walk.push_back(name);
      d->walk_pos = 0;
      d->walk_active = true;
    }
    // Names that went away during the walk are passed over.
    while (d->walk_pos < d->walk.size()) {
      const std::string& name = d->walk[d->walk_pos++];
      auto it = d->attachments().find(name);
      if (it == d->attachments().end()) continue;
      GVAttachmentInfo out{};
      std::memcpy(out.name, name.data(), std::min(name.size(), sizeof out.name - 1));
      out.size = it->second.size;
      out.flags = 0;
      out.modified = it->second.modified;
      *info = out;
      return 0;
    }
    d->walk_active = false;  // ended: the next NEXT starts again
    return GVERR_NO_MORE;
  });
}

GV_API uint32_t GVAttachmentExtract(GVDOC doc, const char* name, const char* path) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (name == nullptr || path == nullptr || *path == '\0') return GVERR_INVALID_ARGUMENT;
    std::string data;
    if (uint32_t s = d->AttachmentData(name, data)) return s;
    return plexa::WriteFile(path, data);
  });
}

GV_API uint32_t GVAttachmentAttach(GVDOC doc, const char* path, const char* name, uint32_t flags,
                                   uint32_t reserved) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (path == nullptr || *path == '\0') return GVERR_INVALID_ARGUMENT;
    std::string_view p(path);
    std::string as;
    if (name != nullptr) {
      as = name;
    } else {
      size_t slash = p.rfind('/');
      as = std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
    }
    if (uint32_t s = plexa::CheckAttachmentName(as)) return s;
    std::string data;
    if (uint32_t s = plexa::ReadFile(path, data)) return s;
    return d->AddAttachment(as, std::move(data));
  });
}

GV_API uint32_t GVAttachmentCopy(GVDOC source, const char* name, GVDOC target) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* s = plexa::FindDocument(source);
    Document* t = plexa::FindDocument(target);
    if (s == nullptr || t == nullptr) return GVERR_INVALID_HANDLE;
    if (name == nullptr) return GVERR_INVALID_ARGUMENT;
    std::string data;
    if (uint32_t st = s->AttachmentData(name, data)) return st;
    return t->AddAttachment(name, std::move(data));
  });
}

}  // extern "C"
