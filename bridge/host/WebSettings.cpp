#include "host/WebSettings.h"

#include "base/Convert.h"
#include "base/ProcessState.h"
#include "host/Application.h"

WebSettings& WebSettings::instance() {
    static WebSettings settings;
    return settings;
}

void WebSettings::load(Application& hs) {
    StyleSheet =
        vb::withoutQuotes(hs.iniCache().GetINISetting("General", "StyleSheet", "StyleNoBody.css"));
    Background = vb::withoutQuotes(hs.iniCache().GetINISetting("General", "Background", "#000000"));
    ServerPort = vb::withoutQuotes(hs.iniCache().GetINISetting("General", "ServerPort", "8012"));
    const double increment =
        vb::Val(vb::withoutQuotes(hs.iniCache().GetINISetting("General", "NinjaIncrement", "10")));
    NinjaIncrement = vb::CInt(increment < 1 ? 1.0 : increment);
}

int WebSettings::portNumber(const std::string& text) {
    const std::string digits = vb::Trim(text);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const int port = std::stoi(digits);
    return port <= 65535 ? port : 0;
}

namespace {
const bool kWebSettingsReset =
    ProcessState::registerReset("WebSettings", [] { WebSettings::instance() = WebSettings(); });
}  // namespace
