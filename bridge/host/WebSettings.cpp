#include "host/WebSettings.h"

#include <algorithm>

#include "base/Convert.h"
#include "base/ProcessState.h"
#include "host/Application.h"

namespace {
std::string withoutQuotes(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '"'), s.end());
    return s;
}
}  // namespace

WebSettings& WebSettings::instance() {
    static WebSettings settings;
    return settings;
}

void WebSettings::load(Application& hs) {
    StyleSheet =
        withoutQuotes(hs.iniCache().GetINISetting("General", "StyleSheet", "StyleNoBody.css"));
    Background = withoutQuotes(hs.iniCache().GetINISetting("General", "Background", "#000000"));
    ServerPort = withoutQuotes(hs.iniCache().GetINISetting("General", "ServerPort", "8012"));
    const double increment =
        vb::Val(withoutQuotes(hs.iniCache().GetINISetting("General", "NinjaIncrement", "10")));
    NinjaIncrement = vb::CInt(increment < 1 ? 1.0 : increment);
}

namespace {
const bool kWebSettingsReset =
    ProcessState::registerReset("WebSettings", [] { WebSettings::instance() = WebSettings(); });
}  // namespace
