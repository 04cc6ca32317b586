#pragma once
// One HTTP request as the server reads it: ParsePage splits the request text
// into method, page, query, header and body; AddPostData adds the fields of
// body text that came later. Query and form text is split at "&" and "=" before
// each key and value is percent-decoded, so an encoded "&", "=" or "+" stays
// part of its value. Query, form and header values are kept in collections
// keyed ignoring case, where the first entry of a name wins.
//
// What the server knows and the browser cannot choose (the peer's address, the
// user whose credentials were checked) is set by the server; no header the
// client wrote is ever read in its place.
//
// Never raises: malformed text leaves fields empty or partly filled, and a
// fault inside the parse is logged ("ParsePage ") with the fields read so far
// kept. Work is linear in the packet's length, and at most kMaxHeaders header
// lines are looked at, so no packet costs more than its size.

#include <cstddef>
#include <string>
#include <string_view>

#include "base/OrderedDictionary.h"
#include "web/KeyValuePair.h"

class Request {
public:
    static constexpr size_t kMaxHeaders = 100;

    void ParsePage(const std::string& sData);
    void AddPostData(const std::string& s);
    // "+" to a blank, then every "%" with the two characters after it to the
    // byte of their hexadecimal value (a non-digit counts -1, a missing one 0;
    // below 32 gives a blank). A decoded "%" is not decoded again. Bytes above
    // 127 are kept as they are (the page posts UTF-8).
    static std::string Decode(std::string_view s);

    const std::string& Method() const { return m_method; }
    const std::string& page() const { return m_page; }
    const std::string& Query() const { return m_query; }
    const std::string& header() const { return m_header; }
    const std::string& Payload() const { return m_payload; }

    // The value of the field or query pair named sKey; empty when there is none.
    std::string Form(std::string_view sKey) const;
    std::string QueryString(std::string_view sKey) const;
    const OrderedDictionary<KeyValuePair>& FormCol() const { return m_form; }
    const OrderedDictionary<KeyValuePair>& QueryStringCol() const { return m_queryString; }
    // "HTTP_USER_AGENT" the User-Agent header, "REMOTE_ADDR" the address of the
    // connection's peer, "AUTH_USER" the checked user (empty when none),
    // "SERVER_NAME" the Host header without its port, anything else the header
    // of that name (any case). A header named like a server-set variable is
    // never taken for it.
    std::string ServerVariables(std::string_view sVar) const;

    // Set by the server from the connection and the credentials it checked.
    void setRemoteAddress(std::string address) { m_remoteAddress = std::move(address); }
    void setAuthUser(std::string user) { m_authUser = std::move(user); }

private:
    static void addPairs(std::string_view text, OrderedDictionary<KeyValuePair>& target);
    void parseHeaderLines();

    std::string m_method;
    std::string m_page;
    std::string m_query;
    std::string m_header;
    std::string m_payload;
    OrderedDictionary<KeyValuePair> m_queryString;
    OrderedDictionary<KeyValuePair> m_form;
    OrderedDictionary<std::string> m_headers;
    std::string m_remoteAddress;
    std::string m_authUser;
};
