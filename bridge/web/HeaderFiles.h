#pragma once
// The files and small texts the page header is built from: HTML fragments
// below the program folder (the site owner's, written into the page as they
// are), the weather values of "WeatherData.ini", the page scroll script and
// the server address a browser reached. A missing or empty fragment reads as
// "No File", which the header leaves out.
//
// Each operation catches its own faults, logs them under its name and returns
// what it has.

#include <string>

class IniCache;
class Request;

namespace HeaderFiles {

constexpr const char* kNoFile = "No File";

// The file below the program folder named the Windows way ("\html\head.htm"),
// found ignoring case; kNoFile when it is missing or empty. A text is kept
// while the file and the folders it was found through are unchanged on disk,
// which is checked once per turn of the event loop: an edit shows from the
// next turn.
std::string FileContents(const std::string& path);
// The links fragment of a level ("\html\links3.htm", "_touchscreen" before the
// extension on styled pages), or the bridge's "links.htm" for level 0.
std::string LinkFile(int level, bool styled);
// A script string literal of the text (line breaks dropped).
std::string scriptString(const std::string& text);
// The text without tags and "&nbsp;".
std::string StripHTML(const std::string& text);
// The host the browser reached, from "Host" or else "Referer", without port;
// it comes from the request, so it is HTML-escaped.
std::string GetServerIP(const Request& request);
// The last part of the request path ("status" for "/status").
std::string fnPageName(const Request& request);
// The program's version as one number: major * 10000 + minor * 100 + patch.
long NumericHSVersion();
// The page scroll script with its scroll lines filled in; empty when the
// script is missing. Weather lines when mode is "Weatherman".
std::string PageScroll(const std::string& mode, IniCache& ini);
// wcontent[0] to wcontent[3] from "WeatherData.ini", one script line each.
std::string PageScrollWeatherman(IniCache& ini);
// The current temperature of "WeatherData.ini"; empty when there is none.
std::string Temperature(IniCache& ini);
// The bridge's links fragment with every attribute value that starts with "/"
// made absolute on host and port.
std::string ownLinks(const std::string& host, const std::string& port);

}  // namespace HeaderFiles
