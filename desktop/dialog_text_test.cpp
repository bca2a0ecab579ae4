#include "desktop/dialog_text.h"

#include <gtest/gtest.h>

namespace {

// A literal with its NUL characters (and without the closing one).
template <size_t N>
std::string Z(const char (&s)[N]) {
    return std::string(s, N - 1);
}

TEST(DialogText, FiltersBecomeNulSeparatedPairs) {
    const struct {
        const char* filter;
        std::string want;
    } cases[] = {
        {".zip File only (*.zip)|*.zip", Z(".zip File only (*.zip)\0*.zip\0\0")},
        {"Files (*.*)  ", Z("Files (*.*)  \0*.*\0\0")},  // a description alone lists every file
        {"folder", Z("folder\0*.*\0\0")},
        {"A|*.a|B|*.b", Z("A\0*.a\0B\0*.b\0\0")},
    };
    for (const auto& c : cases) EXPECT_EQ(dialogFilter(c.filter), c.want) << c.filter;
}

TEST(DialogText, AnswersOfOneAndOfSeveralFiles) {
    const struct {
        std::string buffer;
        std::string want;
    } cases[] = {
        {Z("C:\\data\\a.txt\0\0junk"), "C:\\data\\a.txt"},
        {Z("C:\\data\0a.txt\0b.txt\0\0"), Z("C:\\data\0a.txt\0b.txt")},
        {Z("C:\\\0a.txt\0\0"), Z("C:\\\0a.txt")},  // a drive root keeps its one separator
        {Z("C:\\no-end"), "C:\\no-end"},
        {Z("\0\0"), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(dialogAnswer(c.buffer.data(), c.buffer.size()), c.want);
}

}  // namespace
