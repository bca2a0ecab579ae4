#include "frontend/page_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string repeat(const std::string& s, size_t n) {
    std::string out;
    while (n--) out += s;
    return out;
}

TEST(PageText, ReadableTextOfAPage) {
    const struct {
        const char* html;
        const char* want;
    } cases[] = {
        {"<!DOCTYPE html><html><head><title>T</title><style>p{x:1}</style></head>"
         "<body><h1>Orvanta</h1><p>Zip   and\n unzip.</p><!-- note --><ul><li>One</li><li>Two</ul></body></html>",
         "Orvanta\r\nZip and unzip.\r\n- One\r\n- Two"},
        {"a<br>b<BR/>c", "a\r\nb\r\nc"},
        {"<p>a</p>\n\n  <div>b</div>", "a\r\nb"},       // source line ends are blanks
        {"<p>a<br><br><br>b</p>", "a\r\n\r\nb"},  // one empty line at most
        {"x<ul>\n <li>a</li>\n <li>b<li>c</ul>y<p>z", "x\r\n- a\r\n- b\r\n- c\r\ny\r\nz"},
        {"<SCRIPT type=\"x\">alert('<p>')</script >x<scripts>y", "xy"},
        {"<a title=\"1>2\" href='q'>link</a>", "link"},
        {"&amp;&lt;&gt;&quot;&#39;&nbsp;&#65;&#x42;&AMP;", "&<>\"' AB&"},
        {"&#233;&#0;&#x7f;|&#10;|", "???| |"},
        {"  \t lead  trail \t ", "lead trail"},
    };
    for (const auto& c : cases) EXPECT_EQ(pageText(c.html), c.want) << c.html;
}

TEST(PageText, HostileInputEndsCleanly) {
    const struct {
        std::string html;
        std::string want;
    } cases[] = {
        {"1 < 2 <", "1 < 2 <"},                        // a lone '<' is text
        {"text <b unclosed", "text"},                  // a tag that never ends
        {"x<a href=\"never", "x"},                     // nor its quote
        {"a<script>never closed", "a"},
        {"a<!-- never closed", "a"},
        {"R&D &amp &#; &#x; &#12a; &unknown;", "R&D &amp &#; &#x; &#12a; &unknown;"},
        {"&#99999999999999999999999999999999;&#x" + std::string(100, 'f') + ";", "??"},
        {repeat("&", 100000), repeat("&", 100000)},
        {std::string(50000, '<') + "<script>" + std::string(50000, '>'), std::string(50000, '<')},
        {std::string(50000, ' ') + repeat("<p> ", 50000), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(pageText(c.html), c.want) << c.html.substr(0, 60);
}

}  // namespace
