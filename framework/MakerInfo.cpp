#include "framework/MakerInfo.h"

namespace palvex {

std::string SupportMailBody(const std::string& title, const std::string& versionText, const std::string& systemText)
{
    return "product:%09%09%09" + title + "%0D%0A" + "version:" + "%09%09%09" + versionText + "%0D%0A" + "osver:" +
           "%09%09%09" + systemText + "%0D%0A" + "category:" + "%09%09%09" + "unspecified <by e-mail>" + "%0D%0A" +
           "question: " + "%0D%0A" + "%0D%0A" + "%0D%0A";
}

} // namespace palvex
