// One XML document in memory: parse a file or a buffer or start empty, answer
// XPath queries, add elements and attributes, save. Diagnostics go to stderr.
#pragma once

#include <string>
#include <vector>

#include <libxml/tree.h>

class LibXmlWrapper {
public:
    /// Parses the file; on failure writes "Error: unable to parse file ..." and
    /// keeps no document (every query then finds nothing).
    explicit LibXmlWrapper(std::string path);
    /// Parses `length` bytes of `buffer`; a failure writes nothing.
    LibXmlWrapper(const char* buffer, unsigned long length);
    /// An empty document of version "1.0" without a root element.
    LibXmlWrapper();
    ~LibXmlWrapper();

    LibXmlWrapper(const LibXmlWrapper&) = delete;
    LibXmlWrapper& operator=(const LibXmlWrapper&) = delete;

    /// Text of the one node selected; "" for no match, several matches, or a
    /// node without a text first child. Never throws.
    std::string getXPathElement(const char* xpath);
    std::string getXPathStringValue(const char* xpath);
    /// The text read as a 32-bit unsigned decimal the way strtoul reads it
    /// (leading blanks and a sign, stops at the first non-digit; "-1" gives
    /// 4294967295). Throws std::exception on an empty text, no digits, or a
    /// magnitude above 4294967295.
    unsigned long getXPathUnsignedLongValue(const char* xpath);
    /// True only for "true" and "TRUE"; throws std::exception on an empty text.
    bool getXPathBoolValue(const char* xpath);
    std::string getXPathElementAttribute(const char* xpath, const char* attribute);
    /// Texts of every selected node, in document order.
    std::vector<std::string> getXPathAllElement(const char* xpath);
    /// True exactly when one node is selected; writes no message.
    bool isXPathElementExists(const char* xpath);

    /// With a null parent: makes the element the root (text unused) and
    /// returns false. Otherwise appends it, with its text, to the one element
    /// the parent expression selects and returns true.
    bool AddNewElementNode(const char* parentXpath, const char* name, const char* text);
    bool setXPathElementAttribute(const char* xpath, const char* attribute, const char* value);
    /// Appends name/text under the root with a "uri" attribute and saves to the
    /// path the document was read from; bytes written, or -1.
    int AddNewNode(const char* name, const char* text);
    /// Writes the document, "UTF-8" and indented; false when it was not written.
    bool SaveToFile(const char* path);
    /// Serialises the document; false, with `out` empty, without a document.
    bool SaveToMemory(std::string& out);

    void PrintRootElement();
    void PrintChildrenName(xmlNodePtr node);

private:
    enum class Eval { Quiet, Report };
    /// Runs `fn` on the node set of the expression (null for no match).
    template <typename Fn>
    void withNodes(const char* xpath, Eval mode, Fn fn);
    /// The one node selected, or null. Valid only while the document is unchanged.
    xmlNodePtr singleNode(const char* xpath, Eval mode);
    long saveTo(const char* file);

    std::string path;
    xmlDocPtr m_doc = nullptr;
};
