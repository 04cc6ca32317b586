// Request parsing as the server feeds it: first packets, later body packets,
// the percent-decoding, and packets no browser would send.
#include <gtest/gtest.h>

#include "web/Request.h"

namespace {

Request parse(const std::string& packet) {
    Request r;
    r.ParsePage(packet);
    return r;
}

TEST(Request, SplitsTheRequestLineQueryAndHeaders) {
    const Request r = parse("GET /status?a=1&b=x+y HTTP/1.1\r\nHost: pc:8012\r\n\r\n");
    EXPECT_EQ(r.Method(), "GET");
    EXPECT_EQ(r.page(), "/status");
    EXPECT_EQ(r.Query(), "?a=1&b=x y");
    EXPECT_EQ(r.QueryString("a"), "1");
    EXPECT_EQ(r.QueryString("B"), "x y");
    EXPECT_EQ(r.header(), "HTTP/1.1\r\nHost: pc:8012");
    EXPECT_EQ(r.ServerVariables("SERVER_NAME"), "pc");
    EXPECT_EQ(r.ServerVariables("host"), "pc:8012");
    EXPECT_EQ(r.ServerVariables("HTTP_USER_AGENT"), "");
    EXPECT_EQ(r.Payload(), "");
}

TEST(Request, HttpInsideTheTargetEndsThePage) {
    const Request r = parse("GET /go?to=http://x HTTP/1.1\r\n\r\n");
    // The character before "HTTP" is taken for the separating blank.
    EXPECT_EQ(r.page(), "/go");
    EXPECT_EQ(r.Query(), "?to");
    // An encoded "?" is part of the path: the target is split before decoding.
    EXPECT_EQ(parse("GET /a%3Fk=v HTTP/1.1\r\n\r\n").page(), "/a?k=v");
}

TEST(Request, WhatTheServerKnowsIsNotTakenFromHeaders) {
    Request r = parse(
        "GET / HTTP/1.1\r\nHost: 192.168.1.5\r\nREMOTE_ADDR: 10.0.0.1\r\nAUTH_USER: ADMIN\r\n"
        "Remote_User: ADMIN\r\n\r\n");
    for (const char* name :
         {"REMOTE_ADDR", "remote_host", "AUTH_USER", "REMOTE_USER", "LOGON_USER"})
        EXPECT_EQ(r.ServerVariables(name), "") << name;
    r.setRemoteAddress("127.0.0.1");
    r.setAuthUser("alice");
    EXPECT_EQ(r.ServerVariables("remote_addr"), "127.0.0.1");
    EXPECT_EQ(r.ServerVariables("Auth_User"), "alice");
    EXPECT_EQ(parse("GET / HTTP/1.1\r\nHost: [::1]:8012\r\n\r\n").ServerVariables("SERVER_NAME"),
              "[::1]");
}

TEST(Request, FormPairsFirstWinsThirdPartDropped) {
    const std::string head = "POST /status HTTP/1.1\r\nHost: h\r\n\r\n";
    EXPECT_EQ(parse(head + "a=1&a=2").Form("a"), "1");
    EXPECT_EQ(parse(head + "a=b=c").Form("A"), "b");
    // Split first, then decoded: what the browser encoded is data.
    EXPECT_EQ(parse(head + "a=1%2B1+%26+b%3Dc").Form("a"), "1+1 & b=c");
    EXPECT_EQ(parse(head + "k=%255B%253A%255D").Form("k"), "%5B%3A%5D");
    EXPECT_EQ(parse(head + "n%61me=%C3%A7").Form("name"), "\xC3\xA7");
    EXPECT_EQ(parse("GET /?q=a%26b%3Dc HTTP/1.1\r\n\r\n").QueryString("q"), "a&b=c");
    const Request r = parse(head + "&&flag&=x&k=v");
    EXPECT_EQ(r.Form("flag"), "");
    EXPECT_TRUE(r.FormCol().Exists("flag"));
    EXPECT_EQ(r.Form("k"), "v");
    EXPECT_EQ(r.Form("missing"), "");
}

TEST(Request, PostBodyNowOrLater) {
    Request now = parse("POST /status HTTP/1.1\r\nHost: h\r\n\r\nname=Lamp&x=1\r\n");
    EXPECT_EQ(now.Method(), "POSTx");
    EXPECT_EQ(now.Payload(), "name=Lamp&x=1");
    EXPECT_EQ(now.Form("x"), "1");

    Request later = parse("POST /status HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_EQ(later.Method(), "POST");
    later.AddPostData("name=Hall+Lamp&");
    later.AddPostData("used=on&name=ignored");
    EXPECT_EQ(later.Form("name"), "Hall Lamp");
    EXPECT_EQ(later.Form("used"), "on");
    EXPECT_EQ(later.Payload(), "");

    // One or two characters after the blank line are no body.
    EXPECT_EQ(parse("POST / HTTP/1.1\r\n\r\na=").Method(), "POST");
    EXPECT_TRUE(parse("POST / HTTP/1.1\r\n\r\na=").FormCol().empty());
}

TEST(Request, HeaderLinesWithOneSeparatorOnly) {
    const Request r = parse(
        "GET / HTTP/1.1\r\nUser-Agent: Mozilla/5.0\r\nReferer: http://h: x\r\n"
        "NoSeparator\r\nuser-agent: second\r\n\r\n");
    EXPECT_EQ(r.ServerVariables("http_user_agent"), "Mozilla/5.0");
    EXPECT_EQ(r.ServerVariables("Referer"), "");
}

TEST(Request, DecodeAsTheBrowserEncodes) {
    EXPECT_EQ(Request::Decode("%41+b"), "A b");
    EXPECT_EQ(Request::Decode("%e9"), "\xE9");
    EXPECT_EQ(Request::Decode("%0D%0A"), "  ");
    EXPECT_EQ(Request::Decode("%zz"), " ");
    EXPECT_EQ(Request::Decode("a%"), "a ");
    EXPECT_EQ(Request::Decode("%4"), "@");  // the missing digit counts 0
    EXPECT_EQ(Request::Decode("%2541"), "%41");
    EXPECT_EQ(Request::Decode("%%41"), " 1");
}

TEST(Request, MalformedPacketsLeaveFieldsEmpty) {
    for (const std::string& packet :
         {std::string(), std::string("GARBAGE"), std::string("GET /status\r\n\r\n"),
          std::string("\0\0 \0HTTP", 8), std::string(" HTTP"), std::string("GET HTTP/1.1")}) {
        const Request r = parse(packet);
        EXPECT_TRUE(r.page().empty()) << packet;
        EXPECT_TRUE(r.FormCol().empty());
    }
    const char withNul[] = "GET /a\0b HTTP/1.1\r\n\r\n";
    EXPECT_EQ(parse(std::string(withNul, sizeof withNul - 1)).page(), std::string("/a\0b", 4));
}

TEST(Request, HugeAndEndlessPacketsStayBounded) {
    std::string headers = "GET /status HTTP/1.1\r\n";
    for (int i = 0; i < 5000; ++i) headers += "X-" + std::to_string(i) + ": v\r\n";
    const Request many = parse(headers + "\r\n");
    EXPECT_EQ(many.page(), "/status");
    EXPECT_EQ(many.ServerVariables("X-98"), "v");
    EXPECT_EQ(many.ServerVariables("X-100"), "");  // past the header cap

    const Request big = parse("GET /" + std::string(1 << 20, '%') + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(big.page().size(), 1u + (1u << 20) / 3 + 1);
}

}  // namespace
