// The answers byte for byte, and the paced blocks of a binary file, written to
// a recording pool.
#include <gtest/gtest.h>
#include <QFile>

#include <filesystem>

#include "base/Clock.h"
#include "bridge/web/FakePool.h"
#include "support/TempHome.h"
#include "web/Response.h"

namespace {

class Answers : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::install(&clock);
        std::filesystem::create_directories(home.path() + "/HTML/brindlehub/images");
    }
    void TearDown() override { Clock::install(nullptr); }

    // A file below HTML with a known modification time.
    void file(const std::string& relative, const std::string& content) {
        home.write("HTML/" + relative, content);
        QFile f(QString::fromStdString(home.path() + "/HTML/" + relative));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.setFileTime(QDateTime(QDate(2026, 12, 5), QTime(15, 4, 5)),
                      QFileDevice::FileModificationTime);
    }

    ManualClock clock{QDateTime(QDate(2026, 12, 5), QTime(9, 30))};
    TempHome home;
    FakePool pool{home.path() + "/HTML"};
    Response response{pool};
};

TEST_F(Answers, PageWithItsLengthThenClosed) {
    response.SendTextString(std::string(1234, 'x'), 3);
    ASSERT_EQ(pool.sends.size(), 1u);
    EXPECT_EQ(pool.sends[0],
              "HTTP/1.1 200 OK\r\nServer: qix\r\nDate: 05-Dec-26\r\n"
              "Expires: Tue, 04 Dec 1993 21:29:02 GMT\r\nAccept-Ranges: bytes\r\n"
              "Content-Type: text/html; charset=utf-8\r\nContent-Length: 1234\r\nCache-Control: "
              "no-cache\r\n\r\n" +
                  std::string(1234, 'x'));
    EXPECT_EQ(pool.tag, "0");

    pool.sends.clear();
    pool.state = 8;
    response.SendTextString("late", 3);
    response.SendErrorResponse(3);
    EXPECT_TRUE(pool.sends.empty());
}

TEST_F(Answers, StyleSheetAsHtmlTextFile) {
    file("brindlehub/Look.css", "td { color: red; }\n");
    response.SendTextFile("\\brindlehub\\look.css", 1);
    ASSERT_EQ(pool.sends.size(), 1u);
    EXPECT_EQ(pool.sends[0],
              "HTTP/1.0 200 OK\r\nServer: qix\r\nDate: 05-Dec-26\r\nAccept-Ranges: bytes\r\n"
              "Content-Type: text/html; charset=utf-8\r\nLast-Modified: 12/5/2026 3:04:05 PM\r\n"
              "Content-Length: 19\r\n\r\ntd { color: red; }\n");

    pool.sends.clear();
    response.SendTextFile("\\brindlehub\\missing.css", 1);
    ASSERT_EQ(pool.sends.size(), 1u);
    EXPECT_EQ(
        pool.sends[0],
        "HTTP/1.1 200 Object Not Found\r\nServer: qix\r\nDate: 05-Dec-26\r\n"
        "Connection: Close\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 40\r\n\r\n"
        "<html><h1>404 File Not Found</h1></html>");
}

TEST_F(Answers, MissingImageGetsTheBareNotFound) {
    response.SendBinaryFile("\\brindlehub\\images\\none.gif", 2);
    ASSERT_EQ(pool.sends.size(), 1u);
    EXPECT_EQ(pool.sends[0], "HTTP/1.1 404 Not Found\r\nServer: qix\r\nDate:05-Dec-26\r\n\r\n");
}

TEST_F(Answers, ImageInBlocksEachAfterThePreviousCompleted) {
    std::string bytes;
    for (int i = 0; i < 2500; ++i) bytes += static_cast<char>(i % 251);
    file("brindlehub/images/Pic.PNG", bytes);
    response.SendBinaryFile("\\brindlehub\\images\\pic.png", 4);

    ASSERT_EQ(pool.sends.size(), 4u);
    EXPECT_EQ(pool.sends[0],
              "HTTP/1.1 200 OK\r\nServer: qix\r\nDate:05-Dec-26\r\n"
              "Last-Modified: 12/5/2026 3:04:05 PM\r\nAccept-Ranges: bytes\r\n"
              "Content-Length: 2500\r\nConnection: Close\r\nContent-Type: unknown/binary\r\n\r\n");
    EXPECT_EQ(pool.sends[1], bytes.substr(0, 1000));
    EXPECT_EQ(pool.sends[2], bytes.substr(1000, 1000));
    EXPECT_EQ(pool.sends[3], bytes.substr(2000));
    EXPECT_EQ(pool.timerStarts, 3);
    EXPECT_EQ(pool.waits, 2);  // the first block goes out at once
    EXPECT_EQ(pool.tag, "0");
    EXPECT_EQ(pool.completes, 1);
    EXPECT_TRUE(pool.closed);
}

TEST_F(Answers, ExactMultipleOfTheBlockAndAPeerThatLeaves) {
    file("brindlehub/images/two.gif", std::string(2000, 'g'));
    response.SendBinaryFile("\\brindlehub\\images\\two.gif", 1);
    ASSERT_EQ(pool.sends.size(), 3u);
    EXPECT_NE(pool.sends[0].find("Content-Type: image/gif\r\n"), std::string::npos);

    FakePool leaving(home.path() + "/HTML");
    leaving.afterSend = [](FakePool& p) {
        if (p.sends.size() == 2) p.state = 8;
    };
    Response r(leaving);
    r.SendBinaryFile("\\brindlehub\\images\\two.gif", 1);
    EXPECT_EQ(leaving.sends.size(), 2u);  // header and one block, then it stopped
    EXPECT_EQ(leaving.completes, 1);
}

TEST_F(Answers, NothingOutsideTheHtmlFolder) {
    home.write("secret.gif", "secret");
    home.write("HTML/.hidden.gif", "hidden");
    for (const char* path : {"\\..\\secret.gif", "\\brindlehub\\..\\..\\secret.gif",
                             "\\\\secret.gif", "\\.hidden.gif", "\\brindlehub"}) {
        pool.sends.clear();
        response.SendBinaryFile(path, 1);
        ASSERT_EQ(pool.sends.size(), 1u) << path;
        EXPECT_EQ(pool.sends[0].rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u) << path;
    }
    std::filesystem::create_symlink(home.path() + "/secret.gif",
                                    home.path() + "/HTML/brindlehub/link.css");
    pool.sends.clear();
    response.SendTextFile("\\brindlehub\\link.css", 1);
    EXPECT_EQ(pool.sends.at(0).rfind("HTTP/1.1 200 Object Not Found", 0), 0u);
}

TEST(ContentType, FirstMatchAnywhereInThePath) {
    EXPECT_EQ(Response::contentType("\\a.txt.png"), "text/plain");
    EXPECT_EQ(Response::contentType("\\x.html"), "text/html");
    EXPECT_EQ(Response::contentType("\\x.jpg"), "image/jpg");
    EXPECT_EQ(Response::contentType("\\x.wmz"), "unknown/binary");
}

}  // namespace
