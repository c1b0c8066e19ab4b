// The maker's contact data shown by the about window and used by its links.
#pragma once

#include <string>

#include "platform/MakerName.h"

namespace palvex {

inline constexpr auto kMakerCompanyText = JoinText(kMakerName, " s.r.o.");
inline constexpr const char* kMakerCompany = kMakerCompanyText.Text;
inline constexpr const char* kMakerStreet = "Lipová 17";
inline constexpr const char* kMakerPostcode = "602 00";
inline constexpr const char* kMakerCity = "Brno";
inline constexpr const char* kMakerPhone = "+420 555 010 170";
inline constexpr const char* kMakerFax = "+420 555 010 171";
inline constexpr const char* kMakerHomePage = "https://www.korvane.example/";
inline constexpr const char* kMakerSupportPage = "https://support.korvane.example/";
inline constexpr const char* kMakerSupportEmail = "support@korvane.example";
// The product page, for the application component's WebPage.
inline constexpr const char* kPalvexWebPage = "https://www.korvane.example/palvex/";

inline constexpr auto kSupportMailSubjectText = JoinText("Žádost o technickou podporu ", kMakerName);
inline constexpr const char* kSupportMailSubject = kSupportMailSubjectText.Text;

// The support e-mail's body, its tabs and line breaks already URL-encoded.
std::string SupportMailBody(const std::string& title, const std::string& versionText, const std::string& systemText);

} // namespace palvex
