#pragma once
// The header every generated page starts with, in its minimal form: the title,
// the style sheet link, the two cache elements, the body tag with the
// background, the logo bar linking to /status, the title row and the anchor of
// the page content. Also decides whether a page is styled (explicit colours
// for touch-screen browsers) or leaves the look to the style sheet.

#include <string>
#include <vector>

class Request;

class PageHeader {
public:
    // The logo of the logo bar, below the HTML folder.
    static constexpr const char* kLogo = "/brindlehub/images/brindle-logo.gif";

    // Styled when the request's host is one of the "touchscreenips" setting
    // (section "Settings", comma-separated) or its user agent names a
    // touch-screen browser ("Audrey", "QNX").
    static bool xStartHeaderASP(const Request& request);

    // Parameters by position: 0 the title (page HTML, written as given), 1 to 4
    // the page's values (2 the background, 3 "x" when the page wrote the start
    // of the document itself, 4 the style sheet name).
    static std::string CustomHeader(const std::vector<std::string>& parameters, bool styled);
};
