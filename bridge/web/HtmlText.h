#pragma once
// Text written into a page: stored and posted values are escaped so that they
// show as typed and can neither end an attribute nor start an element.

#include <string>
#include <string_view>

namespace HtmlText {

// The page is UTF-8. Text that is valid UTF-8 stays as it is; other text
// (names stored by older versions, which wrote Windows-1252) is converted from
// Windows-1252, so it shows as it was typed and goes back as UTF-8.
std::string toUtf8(std::string_view text);
// toUtf8, then "&", "<", ">", the double and the single quote as character
// references.
std::string escape(std::string_view text);
// The text without its tags and without "&nbsp;".
std::string stripTags(std::string_view text);

}  // namespace HtmlText
