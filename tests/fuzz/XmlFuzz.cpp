// The XML document class on a buffer: the trace loaders' queries, the
// other queries, an element and an attribute added, then the document
// saved. Checked: numbers are 32-bit or refused with std::exception, as
// documented; a saved document parses again, holds what was added, and
// saves again to the same text.
#include <string>
#include <typeinfo>
#include <vector>

#include "FuzzCheck.h"
#include "LibXmlWrapper.h"

namespace {

// The trace-flag file's shape, and queries of any document. Few: each query
// makes an XPath context, the bulk of an execution's time.
const char* const kQueries[] = {"/TraceValues/fwCommandFlow", "/*", "//*[2]"};

std::string saved(LibXmlWrapper& doc)
{
    std::string out;
    fuzzcheck::check(doc.SaveToMemory(out), "a parsed document does not save");
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzcheck::guard([&] {
        LibXmlWrapper doc(reinterpret_cast<const char*>(data), size);
        for (const char* q : kQueries) {
            try {
                const unsigned long v = doc.getXPathUnsignedLongValue(q);
                fuzzcheck::check(v <= 0xFFFFFFFFul, std::string("a number above 32 bits at ") + q);
            } catch (const std::exception& e) {
                fuzzcheck::check(typeid(e) == typeid(std::exception), std::string("number query threw ") + e.what());
            }
            doc.getXPathElementAttribute(q, "uri");
            doc.getXPathAllElement(q);
        }

        std::string before;
        if (!doc.SaveToMemory(before))
            return; // not parsed: nothing to save
        const bool added = doc.AddNewElementNode("/*", "fuzzAdded", "a&b <c>");
        doc.setXPathElementAttribute("/*", "fuzzAttr", "\"quoted\" & <angled>");
        const std::string first = saved(doc);

        LibXmlWrapper again(first.data(), first.size());
        std::string second;
        fuzzcheck::check(again.SaveToMemory(second), "a saved document does not parse again");
        fuzzcheck::check(second == first, "a saved document, parsed again, saves another text");
        // By local name: under a default namespace the added element takes it.
        if (added) {
            fuzzcheck::check(again.getXPathElement("/*/*[local-name()='fuzzAdded'][last()]") == "a&b <c>",
                             "the added element reads back another text");
            fuzzcheck::check(again.getXPathElementAttribute("/*", "fuzzAttr") == "\"quoted\" & <angled>",
                             "the attribute set reads back another value");
        }
    });
    return 0;
}

void fuzzcheck::writeSeeds(const std::string& dir)
{
    writeSeed(dir, "trace-values",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TraceValues>\n  <fwCommandFlow>4</fwCommandFlow>\n"
              "  <ipValidatorFlow>-1</ipValidatorFlow>\n  <appTracer uri=\"x\">true</appTracer>\n</TraceValues>\n");
}
