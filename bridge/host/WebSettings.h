#pragma once
// The host's running settings from "qixBrindle.ini", section "General", read
// when the host window loads, with every double quote removed: the web
// server's port, the page background and style sheet (used by the tray menu,
// the settings window and the pages), and the camera move increment.

#include <cstdint>
#include <string>

class Application;

class WebSettings {
public:
    static WebSettings& instance();

    // Reads the three values through the host's INI cache.
    void load(Application& hs);
    // A port setting as a port to listen on: 1 to 65535 in digits alone
    // (blanks around them allowed); 0 for anything else ("abc", "80 12", "8O12").
    static int portNumber(const std::string& text);

    std::string ServerPort = "8012";
    std::string Background = "#000000";
    std::string StyleSheet = "StyleNoBody.css";
    // How many steps a camera's Left or Right command moves; at least 1.
    int16_t NinjaIncrement = 10;
    // The day's sun times as the last "Time.Today" message gave them.
    std::string Sunrise = "Unknown";
    std::string Sunset = "Unknown";
};
