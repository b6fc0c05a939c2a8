#include <gtest/gtest.h>

#include "server/MultipartForm.h"

namespace sayloft {
namespace {

std::string part(const std::string& disposition, const std::string& content) {
    return "--B\r\nContent-Disposition: form-data; " + disposition +
           "\r\nContent-Type: text/plain\r\n\r\n" + content + "\r\n";
}

TEST(MultipartForm, FindsTheBoundaryInTheContentType) {
    const std::pair<const char*, const char*> found[] = {
        {"multipart/form-data; boundary=wordcast-1", "wordcast-1"},
        {"multipart/form-data;charset=utf-8; BOUNDARY=\"a b\"", "a b"},
    };
    for (const auto& [header, boundary] : found) {
        EXPECT_EQ(MultipartForm::boundaryOf(header, nullptr), boundary) << header;
    }
    for (const char* header : {"multipart/form-data", "multipart/form-data; boundary=",
                               "multipart/form-data; boundary=\"open"}) {
        std::string error;
        EXPECT_FALSE(MultipartForm::boundaryOf(header, &error)) << header;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(MultipartForm::boundaryOf("x; boundary=" + std::string(71, 'b'), nullptr));
}

TEST(MultipartForm, ReadsThePartsAsSent) {
    const std::string body = "preamble\r\n" +
                             part("name=\"file\"; filename=\"a.wav\"", "RIFF\r\n--Bx") +
                             part("name=\"app_version\"", "1.2") + "--B--\r\nepilogue";
    const auto form = MultipartForm::parse(body, "B", {}, nullptr);
    ASSERT_TRUE(form);
    ASSERT_EQ(form->parts().size(), 2u);
    EXPECT_EQ(form->find("file")->content, "RIFF\r\n--Bx");  // a near-delimiter is content
    EXPECT_EQ(form->find("file")->filename, "a.wav");
    EXPECT_EQ(form->find("app_version")->content, "1.2");
    EXPECT_EQ(form->find("platform"), nullptr);
    EXPECT_TRUE(MultipartForm::parse("--B--\r\n", "B", {}, nullptr)->parts().empty());
}

TEST(MultipartForm, RefusesMalformedAndOversizedForms) {
    const std::string good = part("name=\"a\"", "1") + "--B--\r\n";
    MultipartForm::Limits tight;
    tight.maxParts = 2;
    tight.maxPartHeaderBytes = 100;
    struct Case {
        const char* what;
        std::string body;
    };
    const Case cases[] = {
        {"wrong boundary", part("name=\"a\"", "1") + "--C--\r\n"},
        {"no closing delimiter", good.substr(0, good.size() - 4)},
        {"no line break after the delimiter", "--Bjunk\r\n\r\n1\r\n--B--\r\n"},
        {"no Content-Disposition", "--B\r\nContent-Type: text/plain\r\n\r\n1\r\n--B--\r\n"},
        {"a part without a name", part("filename=\"x\"", "1") + "--B--\r\n"},
        {"not form-data", "--B\r\nContent-Disposition: attachment; name=\"a\"\r\n\r\n1\r\n--B--"},
        {"too many parts",
         part("name=\"a\"", "1") + part("name=\"b\"", "2") + part("name=\"c\"", "3") + "--B--\r\n"},
        {"too many header bytes", "--B\r\nContent-Disposition: form-data; name=\"a\"\r\nX: " +
                                      std::string(200, 'x') + "\r\n\r\n1\r\n--B--\r\n"},
    };
    for (const auto& k : cases) {
        std::string error;
        EXPECT_FALSE(MultipartForm::parse(k.body, "B", tight, &error)) << k.what;
        EXPECT_FALSE(error.empty()) << k.what;
    }
    EXPECT_TRUE(MultipartForm::parse(good, "B", tight, nullptr));
}

}  // namespace
}  // namespace sayloft
