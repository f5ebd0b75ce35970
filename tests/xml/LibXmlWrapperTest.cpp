// The XML document class against libxml2 and xmllint.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Files.h"
#include "LibXmlWrapper.h"
#include "Shell.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

LibXmlWrapper fromText(const std::string& xml)
{
    return LibXmlWrapper(const_cast<char*>(xml.data()), xml.size());
}

size_t count(const std::string& hay, const std::string& needle)
{
    size_t n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1))
        ++n;
    return n;
}

using wardtest::shellOutput;

class TempDir : public ::testing::Test {
protected:
    std::string file(const std::string& name, const std::string& text)
    {
        std::string p = dir_ + "/" + name;
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }
    wardtest::TempDir tmp_{"ward-xml"};
    const std::string dir_ = tmp_.path();
};

// Without a value: the number and boolean queries throw.
struct Want {
    std::string text;
    bool throws;
    unsigned long number;
};

TEST(XPathQuery, TextAndNumberOfOneElement)
{
    struct Case {
        std::string body;
        Want want;
    } cases[] = {
        {"3", {"3", false, 3}},
        {"12abc", {"12abc", false, 12}},
        {" 7", {" 7", false, 7}},
        {"+8", {"+8", false, 8}},
        {"4294967295", {"4294967295", false, 4294967295ul}},
        {"-1", {"-1", false, 4294967295ul}},
        {"4294967296", {"4294967296", true, 0}},
        {"99999999999999999999999", {"99999999999999999999999", true, 0}},
        {"-4294967296", {"-4294967296", true, 0}},
        {"abc", {"abc", true, 0}},
        {"-", {"-", true, 0}},
        {"- 5", {"- 5", true, 0}},
        {"", {"", true, 0}},
        {"<b>5</b>", {"", true, 0}}, // first child is an element: no text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("<pdcFlow>" + c.body + "</pdcFlow>");
        LibXmlWrapper doc = fromText("<TraceValues><pdcFlow>" + c.body + "</pdcFlow></TraceValues>");
        EXPECT_EQ(doc.getXPathElement("/TraceValues/pdcFlow"), c.want.text);
        EXPECT_EQ(doc.getXPathStringValue("/TraceValues/pdcFlow"), c.want.text);
        if (c.want.throws) {
            EXPECT_THROW(doc.getXPathUnsignedLongValue("/TraceValues/pdcFlow"), std::exception);
        } else {
            EXPECT_EQ(doc.getXPathUnsignedLongValue("/TraceValues/pdcFlow"), c.want.number);
        }
    }
}

TEST(XPathQuery, NoneOrSeveralMatches)
{
    LibXmlWrapper one = fromText("<TraceValues><pdcFlow>3</pdcFlow><empty/></TraceValues>");
    EXPECT_EQ(one.getXPathElement("/TraceValues/nope"), "");
    EXPECT_THROW(one.getXPathUnsignedLongValue("/TraceValues/nope"), std::exception);
    EXPECT_FALSE(one.isXPathElementExists("/TraceValues/nope"));
    EXPECT_TRUE(one.isXPathElementExists("/TraceValues/pdcFlow"));
    EXPECT_TRUE(one.getXPathAllElement("/TraceValues/nope").empty());
    // A content-less first child is not dereferenced.
    EXPECT_EQ(one.getXPathElement("/TraceValues/empty"), "");
    EXPECT_THROW(one.getXPathUnsignedLongValue("/TraceValues/empty"), std::exception);
    EXPECT_EQ(one.getXPathElement("/TraceValues/pdcFlow/text()"), "");

    LibXmlWrapper two = fromText("<TraceValues><pdcFlow>3</pdcFlow><pdcFlow>4</pdcFlow></TraceValues>");
    EXPECT_EQ(two.getXPathElement("/TraceValues/pdcFlow"), "");
    EXPECT_THROW(two.getXPathUnsignedLongValue("/TraceValues/pdcFlow"), std::exception);
    EXPECT_FALSE(two.isXPathElementExists("/TraceValues/pdcFlow"));
    EXPECT_EQ(two.getXPathAllElement("/TraceValues/pdcFlow"), (std::vector<std::string>{"3", "4"}));
}

TEST(XPathQuery, Boolean)
{
    struct Case {
        std::string body;
        bool throws;
        bool want;
    } cases[] = {
        {"true", false, true}, {"TRUE", false, true}, {"True", false, false},
        {"1", false, false},   {"yes", false, false}, {"", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        LibXmlWrapper doc = fromText("<a><b>" + c.body + "</b></a>");
        if (c.throws) {
            EXPECT_THROW(doc.getXPathBoolValue("/a/b"), std::exception);
        } else {
            EXPECT_EQ(doc.getXPathBoolValue("/a/b"), c.want);
        }
    }
}

TEST(XPathQuery, AttributesReadAndSet)
{
    LibXmlWrapper doc = fromText("<a><b k=\"v\">t</b><c/><c/></a>");
    EXPECT_EQ(doc.getXPathElementAttribute("/a/b", "k"), "v");
    EXPECT_EQ(doc.getXPathElementAttribute("/a/b", "missing"), "");
    EXPECT_EQ(doc.getXPathElement("/a/b/@k"), "v");
    EXPECT_EQ(doc.getXPathElementAttribute("/a/b/@k", "k"), ""); // not an element
    EXPECT_TRUE(doc.setXPathElementAttribute("/a/b", "k", "w"));
    EXPECT_EQ(doc.getXPathElementAttribute("/a/b", "k"), "w");
    EXPECT_FALSE(doc.setXPathElementAttribute("/a/c", "k", "w"));
    EXPECT_EQ(doc.getXPathElementAttribute("/a/c[1]", "k"), "");
}

TEST(XPathQuery, NonNodeSetResultReportedOnce)
{
    LibXmlWrapper doc = fromText("<TraceValues><pdcFlow>3</pdcFlow></TraceValues>");
    const std::string line = "Error: unable to evaluate xpath expression \"count(/TraceValues/*)\"\n";
    CaptureStderr();
    EXPECT_EQ(doc.getXPathElement("count(/TraceValues/*)"), "");
    EXPECT_EQ(count(GetCapturedStderr(), line), 1u);
    CaptureStderr();
    EXPECT_THROW(doc.getXPathUnsignedLongValue("count(/TraceValues/*)"), std::exception);
    EXPECT_EQ(count(GetCapturedStderr(), line), 1u);
    CaptureStderr();
    EXPECT_FALSE(doc.isXPathElementExists("count(/TraceValues/*)"));
    EXPECT_EQ(GetCapturedStderr(), "");
    // An expression libxml2 cannot evaluate: its own complaint only.
    CaptureStderr();
    EXPECT_EQ(doc.getXPathElement("/TraceValues/["), "");
    EXPECT_EQ(count(GetCapturedStderr(), "Error: unable to"), 0u);
}

TEST_F(TempDir, FileConstructor)
{
    std::string good = file("traceValues.xml", "<TraceValues><pdcFlow>3</pdcFlow></TraceValues>\n");
    LibXmlWrapper doc(good);
    EXPECT_EQ(doc.getXPathUnsignedLongValue("/TraceValues/pdcFlow"), 3u);
    // Agrees with xmllint on the same file.
    EXPECT_EQ(shellOutput("xmllint --xpath 'string(/TraceValues/pdcFlow)' " + good), "3\n");

    for (std::string bad : {dir_ + "/missing.xml", file("bad.xml", "<TraceValues><pdcFlow>")}) {
        SCOPED_TRACE(bad);
        CaptureStderr();
        {
            LibXmlWrapper none(bad);
            EXPECT_EQ(none.getXPathElement("/TraceValues/pdcFlow"), "");
            EXPECT_THROW(none.getXPathUnsignedLongValue("/TraceValues/pdcFlow"), std::exception);
            EXPECT_FALSE(none.isXPathElementExists("/TraceValues"));
            std::string out;
            EXPECT_FALSE(none.SaveToMemory(out));
        }
        EXPECT_EQ(count(GetCapturedStderr(), "Error: unable to parse file \"" + bad + "\"\n"), 1u);
    }
}

TEST(XmlBuffer, UnparseableOrOversizedBufferHasNoDocument)
{
    std::string text = "<a>1</a>";
    CaptureStderr();
    LibXmlWrapper bad = fromText("<a>");
    EXPECT_EQ(count(GetCapturedStderr(), "Error: unable to"), 0u);
    EXPECT_FALSE(bad.isXPathElementExists("/a"));
    // The parser's length is an int: more is refused before it is read.
    LibXmlWrapper huge(const_cast<char*>(text.data()), 1ul << 31);
    EXPECT_FALSE(huge.isXPathElementExists("/a"));
    LibXmlWrapper exact(const_cast<char*>(text.data()), text.size());
    EXPECT_TRUE(exact.isXPathElementExists("/a"));
}

TEST_F(TempDir, BuildAndSave)
{
    LibXmlWrapper doc;
    std::string out;
    EXPECT_FALSE(doc.AddNewElementNode("/root", "child", "v")); // no root yet
    EXPECT_FALSE(doc.AddNewElementNode(nullptr, "root", "x"));
    EXPECT_TRUE(doc.AddNewElementNode("/root", "child", "v"));
    ASSERT_TRUE(doc.SaveToMemory(out));
    const std::string want = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n  <child>v</child>\n</root>\n";
    EXPECT_EQ(want.size(), 73u);
    EXPECT_EQ(out, want);
    std::string unformatted = file("flat.xml", "<root><child>v</child></root>");
    EXPECT_EQ(shellOutput("xmllint --format --encode UTF-8 " + unformatted), out);

    std::string saved = dir_ + "/saved.xml";
    EXPECT_TRUE(doc.SaveToFile(const_cast<char*>(saved.c_str())));
    EXPECT_EQ(wardtest::readFile(saved), want);

    // Texts are kept as written, escaped in the file.
    EXPECT_TRUE(doc.AddNewElementNode("/root", "amp", "a&b<c"));
    EXPECT_EQ(doc.getXPathElement("/root/amp"), "a&b<c");

    for (std::string bad : {std::string("/dev/full"), dir_ + "/missing/x.xml"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(doc.SaveToFile(const_cast<char*>(bad.c_str())));
    }
}

TEST_F(TempDir, AddNewNodeSavesToItsFile)
{
    std::string p = file("doc.xml", "<root/>");
    LibXmlWrapper doc(p);
    int written = doc.AddNewNode("item", "one");
    EXPECT_EQ(written, static_cast<int>(wardtest::readFile(p).size()));
    LibXmlWrapper back(p);
    EXPECT_EQ(back.getXPathElement("/root/item"), "one");
    EXPECT_EQ(back.getXPathElementAttribute("/root/item", "uri"), "http://www.example.com/");
    EXPECT_EQ(shellOutput("xmllint --noout " + p + " && echo ok"), "ok\n");

    LibXmlWrapper empty;
    EXPECT_EQ(empty.AddNewNode("item", "one"), -1); // no root, no path

    // The folder goes away before the save.
    ASSERT_EQ(mkdir((dir_ + "/sub").c_str(), 0700), 0);
    std::string q = file("sub/doc.xml", "<root/>");
    LibXmlWrapper lost(q);
    unlink(q.c_str());
    rmdir((dir_ + "/sub").c_str());
    EXPECT_EQ(lost.AddNewNode("item", "one"), -1);
}

TEST(XmlDiagnostics, PrintRootElement)
{
    LibXmlWrapper empty;
    CaptureStderr();
    empty.PrintRootElement();
    empty.PrintChildrenName(nullptr);
    EXPECT_EQ(GetCapturedStderr(), "Empty Document\n");
    LibXmlWrapper full = fromText("<a><b/></a>");
    CaptureStderr();
    full.PrintRootElement();
    full.PrintChildrenName(nullptr);
    EXPECT_EQ(GetCapturedStderr(), "");
}

} // namespace
