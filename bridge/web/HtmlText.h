#pragma once
// Text written into a page: stored and posted values are escaped so that they
// show as typed and can neither end an attribute nor start an element.

#include <string>
#include <string_view>

namespace HtmlText {

// "&", "<", ">", the double and the single quote as character references;
// every other byte as it is.
std::string escape(std::string_view text);
// The text without its tags and without "&nbsp;".
std::string stripTags(std::string_view text);

}  // namespace HtmlText
