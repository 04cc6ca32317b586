#pragma once
// The web server's running settings: its port, the page background and the
// style sheet. Read from "qixBrindle.ini", section "General", with every double
// quote removed; the tray menu, the settings window and the pages use them.

#include <string>

class Application;

class WebSettings {
public:
    static WebSettings& instance();

    // Reads the three values through the host's INI cache.
    void load(Application& hs);

    std::string ServerPort = "8012";
    std::string Background = "#000000";
    std::string StyleSheet = "StyleNoBody.css";
};
