// Process-wide state of the platform layer that one unit sets up and another tears down.
#ifndef TW_PLATFORM_TW_PLATSTATE_H_
#define TW_PLATFORM_TW_PLATSTATE_H_

namespace tw {

// Frees the international-format record (locale.cc); TWPlatGetIntlFormat then answers null.
void ReleaseIntlFormat() noexcept;

}  // namespace tw

#endif  // TW_PLATFORM_TW_PLATSTATE_H_
