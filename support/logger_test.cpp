// The recording log: message splitting, data items, contexts and the error
// text, and the exact bytes of the XML, plain and HTML renderings.
#include "support/logger.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "support/activity_log.h"
#include "support/platform.h"
#include "support/string_buffer.h"
#include "support/testing/scratch_dir.h"

namespace {

std::string xmlOf(Logger& log) {
    StringBuffer out("");
    EXPECT_TRUE(log.getXmlText(out));
    return out.str();
}

std::string errorTextOf(Logger& log) {
    StringBuffer out("");
    EXPECT_TRUE(log.getErrorText(out));
    return out.str();
}

std::string systemMessage(uint32_t code) {
    StringBuffer b("");
    b.appendSystemError(code);
    return b.str();
}

const std::string kDecl = "<?xml version=\"1.0\"  encoding=\"utf-8\" standalone=\"yes\" ?>";

}  // namespace

TEST(Logger, DeclarationIsFiftySevenCharactersAndLf) {
    EXPECT_EQ(std::strlen(kXmlLogDeclaration), 58u);
    EXPECT_EQ(std::string(kXmlLogDeclaration), kDecl + "\n");
}

// A build call whose zip file was missing: the file a client saves.
TEST(Logger, FailedCallSavesSixLineFile) {
    ScratchDir dir;
    std::string path = dir.file("log.xml");
    dir.track(path);
    std::string msg = systemMessage(platform::errorFileNotFound());
    ASSERT_FALSE(msg.empty());

    Logger log;
    ASSERT_TRUE(log.enterContext("CreateExe3", true));
    ASSERT_TRUE(log.logError(msg.c_str()));
    ASSERT_TRUE(log.leaveContext());
    EXPECT_TRUE(log.hadError());
    EXPECT_EQ(errorTextOf(log), "(CreateExe3)\n" + msg);

    ASSERT_TRUE(log.saveXml(false, path.c_str()));
    bool ok = false;
    std::string bytes = readWholeFile(path, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(bytes, kDecl + "\r\n<VarnockLog>\r\n<CreateExe3>\r\n    <error>" + msg +
                         "</error>\r\n</CreateExe3>\r\n</VarnockLog>\r\n");
}

TEST(Logger, EmptyLogSavesPlaceholderAndRendersNothing) {
    ScratchDir dir;
    std::string path = dir.file("empty.xml");
    dir.track(path);
    // A longer file there first: saving truncates it.
    dir.write("empty.xml", std::string(500, 'x'));
    Logger log;
    ASSERT_TRUE(log.enterContext("Nothing", true));
    ASSERT_TRUE(log.leaveContext());  // empty context: no trace
    EXPECT_EQ(xmlOf(log), "");
    ASSERT_TRUE(log.saveXml(true, path.c_str()));
    EXPECT_EQ(readWholeFile(path), kDecl + "\r\n<VarnockLog>The log is empty</VarnockLog>");
}

TEST(Logger, SaveFailures) {
    ScratchDir dir;
    Logger log;
    log.logInfo("x");
    EXPECT_FALSE(log.saveXml(false, nullptr));
    EXPECT_FALSE(log.saveXml(false, ""));
    EXPECT_FALSE(log.saveXml(false, dir.file("no-such-folder/log.xml").c_str()));
}

TEST(Logger, SaveWritesUtf8AndCrLfForEveryLf) {
    ScratchDir dir;
    std::string path = dir.file("utf8.xml");
    dir.track(path);
    // "Grüße" in the ANSI code page, whatever it is here.
    char ansi[32] = {};
    ASSERT_GT(platform::wideToAnsi(u"Gr\u00FC\u00DFe", -1, ansi, sizeof ansi), 0);
    Logger log;
    log.enterContext("Call", true);
    log.logData("filename", ansi);
    log.logInfo("one\ntwo");
    log.leaveContext();
    ASSERT_TRUE(log.saveXml(false, path.c_str()));
    EXPECT_EQ(readWholeFile(path), kDecl + "\r\n<VarnockLog>\r\n<Call>\r\n    <filename>Gr\xC3\xBC\xC3\x9F" "e"
                                           "</filename>\r\n    <info><![CDATA[one\r\n  two]]></info>\r\n"
                                           "</Call>\r\n</VarnockLog>\r\n");
}

TEST(Logger, MessagesSplitAtCrAndLf) {
    Logger log;
    EXPECT_FALSE(log.logInfo(""));
    EXPECT_FALSE(log.logInfo(nullptr));
    EXPECT_FALSE(log.logDebug(""));
    EXPECT_TRUE(log.logInfo("\r\n\r\n"));  // accepted, adds nothing
    EXPECT_EQ(log.activityLog()->count(), 0);
    EXPECT_FALSE(log.hadError());

    ASSERT_TRUE(log.logInfo("first\r\nsecond\r\r\nthird\n"));
    ActivityLog& a = *log.activityLog();
    ASSERT_EQ(a.count(), 3);
    const char* texts[] = {"first", "  second", "  third"};
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a.entry(i)->kind, LogEntry::Message);
        EXPECT_EQ(a.entry(i)->level, LogEntry::Info);
        EXPECT_STREQ(a.entry(i)->text->str(), texts[i]);
        EXPECT_EQ(a.entry(i)->continuation, i > 0);
    }
    // Last entry of the log: the CDATA block ends right after the last line.
    EXPECT_EQ(xmlOf(log), "<VarnockLog>\n<info><![CDATA[first\n  second\n  third]]></info>\n</VarnockLog>\n");
}

TEST(Logger, ErrorFlagResetAndClear) {
    Logger log;
    EXPECT_FALSE(log.logError(""));  // refused, yet the call is marked failed
    EXPECT_TRUE(log.hadError());
    EXPECT_TRUE(log.reset());
    EXPECT_FALSE(log.hadError());
    log.logError("boom");
    log.logInfo("more");
    EXPECT_TRUE(log.clear());
    EXPECT_EQ(log.activityLog()->count(), 0);
    EXPECT_TRUE(log.hadError());  // clear keeps the flag
    EXPECT_TRUE(log.reset());
    EXPECT_FALSE(log.hadError());
}

TEST(Logger, ContextsRender) {
    struct Case {
        const char* name;
        void (*fill)(Logger&);
        const char* xml;
    };
    const Case cases[] = {
        {"never left: closed at the end without indentation",
         [](Logger& l) {
             l.enterContext("Outer", false);
             l.enterContext("Inner", false);
             l.logDebug("x");
         },
         "<VarnockLog>\n<Outer>\n    <Inner>\n        <debug>x</debug>\n</Inner>\n</Outer>\n</VarnockLog>\n"},
        {"empty context removed",
         [](Logger& l) {
             l.logInfo("a");
             l.enterContext("Empty", true);
             l.leaveContext();
         },
         "<VarnockLog>\n<info>a</info>\n</VarnockLog>\n"},
        {"leave without an open context: the end entry is skipped",
         [](Logger& l) {
             l.logInfo("a");
             l.leaveContext();
             l.enterContext("C", false);
             l.logError("b");
             l.leaveContext();
         },
         "<VarnockLog>\n<info>a</info>\n<C>\n    <error>b</error>\n</C>\n</VarnockLog>\n"},
        {"nested and closed",
         [](Logger& l) {
             l.enterContext("A", true);
             l.enterContext("B", false);
             l.logData("n", "1");
             l.leaveContext();
             l.logInfo("after");
             l.leaveContext();
         },
         "<VarnockLog>\n<A>\n    <B>\n        <n>1</n>\n    </B>\n    <info>after</info>\n</A>\n</VarnockLog>\n"},
        {"raw fragment without indent",
         [](Logger& l) {
             l.enterContext("A", false);
             l.logXml("<raw a=\"1\"/>");
             l.leaveContext();
         },
         "<VarnockLog>\n<A>\n<raw a=\"1\"/>\n</A>\n</VarnockLog>\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Logger log;
        c.fill(log);
        EXPECT_EQ(xmlOf(log), c.xml);
    }
}

TEST(Logger, LeaveContextCounts) {
    Logger log;
    EXPECT_TRUE(log.leaveContext());  // empty log: nothing happens
    EXPECT_EQ(log.activityLog()->count(), 0);
    log.logInfo("a");
    EXPECT_TRUE(log.leaveContext());
    ASSERT_EQ(log.activityLog()->count(), 2);
    EXPECT_EQ(log.activityLog()->entry(1)->kind, LogEntry::ContextEnd);
    EXPECT_EQ(log.activityLog()->entry(1)->text, nullptr);
    EXPECT_FALSE(log.enterContext("", true));
    EXPECT_FALSE(log.enterContext(nullptr, true));
    EXPECT_EQ(log.activityLog()->count(), 2);
}

TEST(Logger, ErrorTextOfContexts) {
    struct Case {
        const char* name;
        void (*fill)(Logger&);
        const char* errorText;
    };
    const Case cases[] = {
        {"non-verbose inner captured by verbose outer",
         [](Logger& l) {
             l.enterContext("CreateExe", true);
             l.logInfo("starting");
             l.enterContext("zip", false);
             l.logData("filename", "a.zip");
             l.logXml("<x/>");
             l.logDebug("dbg");
             l.logError("Cannot open\r\nsecond line");
             l.leaveContext();
             EXPECT_EQ(std::string(l.activityLog()->errorText().str()), "");
             l.logDataInt("size", 7);
             l.leaveContext();
         },
         "(CreateExe)\n(zip)\nfilename: a.zip\nCannot open\n      second line\nsize: 7"},
        {"verbose inner captures; the outer finds nothing new",
         [](Logger& l) {
             l.enterContext("Outer", true);
             l.enterContext("Inner", true);
             l.logError("bad");
             l.leaveContext();
             EXPECT_EQ(std::string(l.activityLog()->errorText().str()), "(Inner)\nbad");
             l.logInfo("x");
             l.leaveContext();
         },
         ""},
        {"no error, no text",
         [](Logger& l) {
             l.enterContext("Call", true);
             l.logData("filename", "x");
             l.leaveContext();
         },
         ""},
        {"non-verbose alone keeps the error pending for the next verbose context",
         [](Logger& l) {
             l.enterContext("Quiet", false);
             l.logError("first");
             l.leaveContext();
             l.enterContext("Loud", true);
             l.logInfo("ok");
             l.leaveContext();
         },
         "(Loud)"},
        {"an earlier context's error text is emptied by the next leave",
         [](Logger& l) {
             l.enterContext("One", true);
             l.logError("failed");
             l.leaveContext();
             l.enterContext("Two", true);
             l.logInfo("fine");
             l.leaveContext();
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Logger log;
        c.fill(log);
        EXPECT_EQ(errorTextOf(log), c.errorText);
    }
}

TEST(Logger, DataItemNames) {
    Logger log;
    EXPECT_TRUE(log.logData(" file name ", "v"));
    EXPECT_TRUE(log.logData("\t\r\nsection name\n", "w"));
    EXPECT_FALSE(log.logData("   ", "v"));
    EXPECT_FALSE(log.logData(nullptr, "v"));
    EXPECT_TRUE(log.logData("empty", nullptr));
    EXPECT_TRUE(log.logDataInt("count", 42));
    EXPECT_TRUE(log.logDataInt("big", 4294967295u));  // signed decimal
    EXPECT_FALSE(log.logDataInt("  ", 1));
    EXPECT_EQ(xmlOf(log),
              "<VarnockLog>\n<file_name>v</file_name>\n<section_name>w</section_name>\n<empty></empty>\n"
              "<count>42</count>\n<big>-1</big>\n</VarnockLog>\n");
}

TEST(Logger, CdataRule) {
    struct Case {
        const char* text;
        bool needs;
        const char* dataXml;     // rendering as the value of <v>
        const char* messageXml;  // rendering as a one-line info message
    };
    const Case cases[] = {
        {"plain text", false, "<v>plain text</v>", "<info>plain text</info>"},
        {"a<b", true, "<v><![CDATA[a<b]]></v>", "<info><![CDATA[a<b]]></info>"},
        {"a>b", true, "<v><![CDATA[a>b]]></v>", "<info><![CDATA[a>b]]></info>"},
        {"a&b", true, "<v><![CDATA[a&b]]></v>", "<info><![CDATA[a&b]]></info>"},
        {"tab\there", true, "<v><![CDATA[tab\there]]></v>", "<info><![CDATA[tab\there]]></info>"},
        {"cr\ronly", false, "<v>cr\ronly</v>", nullptr},
        {"line\nbreak", true, "<v><![CDATA[line\nbreak]]></v>", nullptr},
        // Both markers: escaped instead, messages included.
        {"<![CDATA[x]]>&", false, "<v>&lt;![CDATA[x]]&gt;&amp;</v>", "<info>&lt;![CDATA[x]]&gt;&amp;</info>"},
        // "]]>" alone calls for CDATA and is split across two sections.
        {"]]>", true, "<v><![CDATA[]]]]><![CDATA[>]]></v>", "<info><![CDATA[]]]]><![CDATA[>]]></info>"},
        {"a<b]]>c]]>", true, "<v><![CDATA[a<b]]]]><![CDATA[>c]]]]><![CDATA[>]]></v>", nullptr},
        {"<![CDATA[ only", true, "<v><![CDATA[<![CDATA[ only]]></v>", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(xmlTextNeedsCdata(c.text), c.needs);
        Logger data;
        data.logData("v", c.text);
        EXPECT_EQ(xmlOf(data), std::string("<VarnockLog>\n") + c.dataXml + "\n</VarnockLog>\n");
        if (c.messageXml) {
            Logger msg;
            msg.logInfo(c.text);
            EXPECT_EQ(xmlOf(msg), std::string("<VarnockLog>\n") + c.messageXml + "\n</VarnockLog>\n");
        }
    }
    // A multi-line message always uses CDATA; a "]]>" in any line is split.
    Logger multi;
    multi.logError("x]]>\r\n<![CDATA[y]]>");
    EXPECT_EQ(xmlOf(multi),
              "<VarnockLog>\n<error><![CDATA[x]]]]><![CDATA[>\n  <![CDATA[y]]]]><![CDATA[>]]></error>\n</VarnockLog>\n");
}

TEST(ActivityLog, DatesAndLineEnds) {
    ActivityLog a;
    auto* e = new LogEntry(LogEntry::Message, LogEntry::Error, "bad", nullptr);
    e->timestamp = platform::LocalTime{2026, 3, 3, 4, 5, 6, 7, 890};
    a.appendEntry(e);
    auto* c = new LogEntry(LogEntry::Message, LogEntry::Error, "  more", nullptr);
    c->continuation = true;
    a.appendEntry(c);
    auto* d = new LogEntry(LogEntry::Message, LogEntry::Debug, "late", nullptr);
    d->timestamp = platform::LocalTime{1999, 12, 5, 31, 23, 59, 58, 0};
    a.appendEntry(d);

    StringBuffer dated("");
    a.renderXml(dated, true, false);
    EXPECT_STREQ(dated.str(),
                 "<VarnockLog>\n<error date=\"03/04/2026 05:06:07\"><![CDATA[bad\n  more]]></error>\n"
                 "<debug date=\"12/31/1999 23:59:58\">late</debug>\n</VarnockLog>\n");
    StringBuffer crlf("");
    a.renderXml(crlf, false, true);
    EXPECT_STREQ(crlf.str(), "<VarnockLog>\r\n<error><![CDATA[bad\r\n  more]]></error>\r\n<debug>late</debug>\r\n"
                             "</VarnockLog>\r\n");
}

TEST(Logger, SavedDatesUseLocalTime) {
    ScratchDir dir;
    std::string path = dir.file("dated.xml");
    dir.track(path);
    Logger log;
    log.logInfo("hello");
    ASSERT_TRUE(log.saveXml(true, path.c_str()));
    std::string bytes = readWholeFile(path);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(bytes, m,
                                  std::regex("<info date=\"(\\d\\d)/(\\d\\d)/(\\d\\d\\d\\d) "
                                             "(\\d\\d):(\\d\\d):(\\d\\d)\">hello</info>\r\n")))
        << bytes;
    platform::LocalTime now = platform::localTime();
    EXPECT_EQ(std::stoi(m[3]), now.year);  // fails only across New Year's midnight
    EXPECT_GE(std::stoi(m[1]), 1);
    EXPECT_LE(std::stoi(m[1]), 12);
    EXPECT_GE(std::stoi(m[2]), 1);
    EXPECT_LE(std::stoi(m[2]), 31);
}

TEST(Logger, TextRenderings) {
    Logger log;
    log.enterContext("Call", true);
    log.logInfo("Hello");
    log.logDebug("hidden");
    log.logError("Bad <x> & \"q\"\r\nnext");
    log.logData("file", "a.zip");
    log.leaveContext();

    StringBuffer plain("");
    ASSERT_TRUE(log.getPlainText(plain));
    EXPECT_STREQ(plain.str(), "Hello\r\nBad <x> & \"q\"\r\n  next\r\nfile: a.zip\r\n");
    StringBuffer html("");
    ASSERT_TRUE(log.getHtmlText(html));
    EXPECT_STREQ(html.str(), "Hello<br>Bad &lt;x&gt; &amp; &quot;q&quot;<br>  next<br>file: a.zip<br>");
    // The template follows the last rendering asked for.
    StringBuffer again("");
    ASSERT_TRUE(log.getPlainText(again));
    EXPECT_STREQ(again.str(), plain.str());
}

TEST(Logger, TextWithTemplateMarker) {
    Logger log;
    log.logInfo("_MESSAGE_ twice _MESSAGE_");
    StringBuffer plain("");
    log.getPlainText(plain);
    EXPECT_STREQ(plain.str(), "_MESSAGE_ twice _MESSAGE_\r\n");
}
