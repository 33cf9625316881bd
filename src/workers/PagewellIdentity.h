#ifndef PAGEWELL_IDENTITY_H
#define PAGEWELL_IDENTITY_H

#include <string>
#include <string_view>

namespace pagewell {

// The maker's web domain, fixed at build time.
inline constexpr std::u16string_view MakerDomain = u"www.corvanta.example";

// The application version, from the CMake project version.
#ifndef PAGEWELL_VERSION
#error "PAGEWELL_VERSION must be defined by the build"
#endif
inline constexpr std::string_view AppVersionText = PAGEWELL_VERSION;

// The version as wide text, for the document's Creator entry.
inline std::u16string AppVersion()
{
    return std::u16string(AppVersionText.begin(), AppVersionText.end());
}

// "Pagewell v" and the version.
inline std::u16string CreatorText(std::u16string_view version)
{
    return u"Pagewell v" + std::u16string(version);
}

// "Inkstead - " and the address of the maker's web site.
inline std::u16string ProducerText()
{
    return u"Inkstead - http://" + std::u16string(MakerDomain) + u"/";
}

} // namespace pagewell

#endif
