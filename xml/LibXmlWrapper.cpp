#include "LibXmlWrapper.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>

#include <libxml/parser.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>

namespace {

// libxml2 wants one xmlInitParser per process before threads use it; it is
// never cleaned up, since other objects may still be alive in other threads.
void initLibXml()
{
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

/// Content of the node's first child, or "" when it has none or it carries no
/// content (an empty element, an element as first child, a text node).
std::string nodeText(xmlNodePtr node)
{
    if (node == nullptr || node->children == nullptr || node->children->content == nullptr)
        return std::string();
    return std::string(reinterpret_cast<const char*>(node->children->content));
}

} // namespace

LibXmlWrapper::LibXmlWrapper(std::string p) : path(std::move(p))
{
    initLibXml();
    m_doc = xmlParseFile(path.c_str());
    if (m_doc == nullptr)
        std::fprintf(stderr, "Error: unable to parse file \"%s\"\n", path.c_str());
}

LibXmlWrapper::LibXmlWrapper(const char* buffer, unsigned long length)
{
    initLibXml();
    // The parser takes an int length: anything longer is no document.
    if (buffer != nullptr && length <= static_cast<unsigned long>(INT_MAX))
        m_doc = xmlParseMemory(buffer, static_cast<int>(length));
}

LibXmlWrapper::LibXmlWrapper()
{
    initLibXml();
    m_doc = xmlNewDoc(X("1.0"));
}

LibXmlWrapper::~LibXmlWrapper()
{
    if (m_doc != nullptr)
        xmlFreeDoc(m_doc);
}

template <typename Fn>
void LibXmlWrapper::withNodes(const char* xpath, Eval mode, Fn fn)
{
    if (m_doc == nullptr || xpath == nullptr) {
        fn(nullptr);
        return;
    }
    xmlXPathContextPtr ctx = xmlXPathNewContext(m_doc);
    if (ctx == nullptr) {
        if (mode == Eval::Report)
            std::fprintf(stderr, "Error: unable to create new XPath context\n");
        fn(nullptr);
        return;
    }
    // libxml2 reports an expression it cannot evaluate itself.
    xmlXPathObjectPtr result = xmlXPathEvalExpression(X(xpath), ctx);
    xmlNodeSetPtr nodes = nullptr;
    if (result != nullptr) {
        if (result->type != XPATH_NODESET) {
            if (mode == Eval::Report)
                std::fprintf(stderr, "Error: unable to evaluate xpath expression \"%s\"\n", xpath);
        } else {
            nodes = result->nodesetval;
        }
    }
    try {
        fn(nodes);
    } catch (...) {
        xmlXPathFreeObject(result);
        xmlXPathFreeContext(ctx);
        throw;
    }
    xmlXPathFreeObject(result);
    xmlXPathFreeContext(ctx);
}

xmlNodePtr LibXmlWrapper::singleNode(const char* xpath, Eval mode)
{
    xmlNodePtr node = nullptr;
    withNodes(xpath, mode, [&](xmlNodeSetPtr nodes) {
        if (nodes != nullptr && nodes->nodeNr == 1)
            node = nodes->nodeTab[0];
    });
    return node;
}

std::string LibXmlWrapper::getXPathElement(const char* xpath)
{
    return nodeText(singleNode(xpath, Eval::Report));
}

std::string LibXmlWrapper::getXPathStringValue(const char* xpath)
{
    return getXPathElement(xpath);
}

unsigned long LibXmlWrapper::getXPathUnsignedLongValue(const char* xpath)
{
    std::string text = getXPathElement(xpath);
    if (text.empty())
        throw std::exception();
    // strtoul's reading, with the checks glibc leaves out: it sets no errno
    // when there are no digits, and reads "-1" as 2^64-1. Values are 32-bit.
    const char* p = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        throw std::exception();
    errno = 0;
    char* end = nullptr;
    unsigned long long magnitude = std::strtoull(p, &end, 10);
    if (end == p || errno == ERANGE || magnitude > 0xFFFFFFFFull)
        throw std::exception();
    uint32_t value = static_cast<uint32_t>(magnitude);
    if (negative)
        value = static_cast<uint32_t>(0u - value);
    return value;
}

bool LibXmlWrapper::getXPathBoolValue(const char* xpath)
{
    std::string text = getXPathElement(xpath);
    if (text.empty())
        throw std::exception();
    return text == "true" || text == "TRUE";
}

std::string LibXmlWrapper::getXPathElementAttribute(const char* xpath, const char* attribute)
{
    xmlNodePtr node = singleNode(xpath, Eval::Report);
    if (node == nullptr || node->type != XML_ELEMENT_NODE || attribute == nullptr)
        return std::string();
    xmlChar* value = xmlGetProp(node, X(attribute));
    if (value == nullptr)
        return std::string();
    std::string out(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return out;
}

std::vector<std::string> LibXmlWrapper::getXPathAllElement(const char* xpath)
{
    std::vector<std::string> out;
    withNodes(xpath, Eval::Report, [&](xmlNodeSetPtr nodes) {
        if (nodes == nullptr)
            return;
        for (int i = 0; i < nodes->nodeNr; ++i)
            out.push_back(nodeText(nodes->nodeTab[i]));
    });
    return out;
}

bool LibXmlWrapper::isXPathElementExists(const char* xpath)
{
    return singleNode(xpath, Eval::Quiet) != nullptr;
}

bool LibXmlWrapper::AddNewElementNode(const char* parentXpath, const char* name, const char* text)
{
    if (m_doc == nullptr || name == nullptr)
        return false;
    if (parentXpath == nullptr) {
        // Callers rely on this answering false although the root was made.
        xmlNodePtr root = xmlNewNode(nullptr, X(name));
        if (root != nullptr) {
            xmlNodePtr old = xmlDocSetRootElement(m_doc, root);
            if (old != nullptr)
                xmlFreeNode(old);
        }
        return false;
    }
    xmlNodePtr parent = singleNode(parentXpath, Eval::Report);
    if (parent == nullptr || parent->type != XML_ELEMENT_NODE)
        return false;
    // The text child escapes its content ("a&b" is kept as written).
    return xmlNewTextChild(parent, nullptr, X(name), text ? X(text) : nullptr) != nullptr;
}

bool LibXmlWrapper::setXPathElementAttribute(const char* xpath, const char* attribute, const char* value)
{
    xmlNodePtr node = singleNode(xpath, Eval::Report);
    if (node == nullptr || node->type != XML_ELEMENT_NODE || attribute == nullptr || value == nullptr)
        return false;
    return xmlSetProp(node, X(attribute), X(value)) != nullptr;
}

int LibXmlWrapper::AddNewNode(const char* name, const char* text)
{
    xmlNodePtr root = m_doc ? xmlDocGetRootElement(m_doc) : nullptr;
    if (root == nullptr || path.empty() || name == nullptr)
        return -1;
    xmlNodePtr node = xmlNewTextChild(root, nullptr, X(name), text ? X(text) : nullptr);
    if (node == nullptr)
        return -1;
    xmlNewProp(node, X("uri"), X("http://www.example.com/"));
    long written = saveTo(path.c_str());
    return written > INT_MAX ? INT_MAX : static_cast<int>(written);
}

long LibXmlWrapper::saveTo(const char* file)
{
    if (m_doc == nullptr || file == nullptr)
        return -1;
    std::string text;
    if (!SaveToMemory(text))
        return -1;
    // Each step is checked: a full disk shows only at the flush or the close.
    FILE* f = std::fopen(file, "wb");
    if (f == nullptr)
        return -1;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fflush(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    return ok ? static_cast<long>(text.size()) : -1;
}

bool LibXmlWrapper::SaveToFile(const char* file)
{
    return saveTo(file) >= 0;
}

bool LibXmlWrapper::SaveToMemory(std::string& out)
{
    out.clear();
    if (m_doc == nullptr)
        return false;
    xmlChar* buffer = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(m_doc, &buffer, &size, "UTF-8", 1);
    if (buffer == nullptr)
        return false;
    out.assign(reinterpret_cast<const char*>(buffer), size > 0 ? static_cast<size_t>(size) : 0);
    xmlFree(buffer);
    return true;
}

void LibXmlWrapper::PrintRootElement()
{
    if (m_doc == nullptr || xmlDocGetRootElement(m_doc) == nullptr)
        std::fprintf(stderr, "Empty Document\n");
}

void LibXmlWrapper::PrintChildrenName(xmlNodePtr node)
{
    if (node == nullptr)
        node = m_doc ? xmlDocGetRootElement(m_doc) : nullptr;
    if (node == nullptr)
        return;
    // Walks the children and writes nothing, as it always did.
    for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
    }
}
