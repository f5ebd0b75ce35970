// The store's file format: an XML property list holding one dict.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include "Preferences.h"

namespace settingstore {

const char* const kPreferencesFolder = "/usr/local/Vantrel/preferences";

namespace {

void initLibXml()
{
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

bool named(xmlNodePtr n, const char* name)
{
    return n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0;
}

std::string content(xmlNodePtr n)
{
    xmlChar* c = xmlNodeGetContent(n);
    std::string s = c ? reinterpret_cast<const char*>(c) : "";
    xmlFree(c);
    return s;
}

bool hasElementChild(xmlNodePtr n)
{
    for (xmlNodePtr c = n->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE)
            return true;
    return false;
}

/// Element children, skipping blanks and comments; false on stray text.
bool elements(xmlNodePtr parent, std::vector<xmlNodePtr>& out)
{
    for (xmlNodePtr c = parent->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE)
            out.push_back(c);
        else if (c->type == XML_TEXT_NODE && !xmlIsBlankNode(c))
            return false;
    }
    return true;
}

bool parseInteger(const std::string& text, int64_t& out)
{
    const char* p = text.c_str();
    const char* digits = (*p == '-' || *p == '+') ? p + 1 : p;
    if (*digits < '0' || *digits > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(p, &end, 10);
    if (errno == ERANGE || end == p || *end != '\0')
        return false;
    out = v;
    return true;
}

/// Whether a node from `n` on (with its attributes and descendants) refers to
/// an entity. A value kept unread is written back as it stands, references
/// included, but without the declarations that give them a meaning: the file
/// would no longer parse, so one that refers to entities is not read at all.
bool refersToEntities(xmlNodePtr n)
{
    for (; n != nullptr; n = n->next) {
        if (n->type == XML_ENTITY_REF_NODE)
            return true;
        if (n->type != XML_ELEMENT_NODE)
            continue;
        for (xmlAttrPtr a = n->properties; a != nullptr; a = a->next)
            if (refersToEntities(a->children))
                return true;
        if (refersToEntities(n->children))
            return true;
    }
    return false;
}

/// The element's XML as the file the store writes (UTF-8) holds it.
std::string dump(xmlNodePtr n)
{
    xmlBufferPtr buf = xmlBufferCreate();
    xmlSaveCtxtPtr save = xmlSaveToBuffer(buf, "UTF-8", XML_SAVE_NO_DECL);
    xmlSaveTree(save, n);
    xmlSaveClose(save);
    std::string s(reinterpret_cast<const char*>(xmlBufferContent(buf)), xmlBufferLength(buf));
    xmlBufferFree(buf);
    return s;
}

/// Null when the value element is malformed.
PrefValueRef parseValue(xmlNodePtr v)
{
    if (named(v, "integer")) {
        int64_t n;
        if (hasElementChild(v) || !parseInteger(content(v), n))
            return nullptr;
        return std::make_shared<const PrefNumber>(n);
    }
    if (named(v, "true") || named(v, "false")) {
        if (v->children != nullptr)
            return nullptr;
        return PrefBoolean::get(named(v, "true"));
    }
    if (named(v, "string")) {
        if (hasElementChild(v))
            return nullptr;
        return std::make_shared<const PrefString>(content(v));
    }
    if (named(v, "array")) {
        std::vector<xmlNodePtr> items;
        if (!elements(v, items))
            return nullptr;
        auto array = std::make_shared<PrefArray>();
        for (xmlNodePtr item : items) {
            if (!named(item, "string") || hasElementChild(item))
                return std::make_shared<const PrefOther>(dump(v));
            array->append(std::make_shared<const PrefString>(content(item)));
        }
        return array;
    }
    return std::make_shared<const PrefOther>(dump(v));
}

void escape(std::string& out, const std::string& text)
{
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\r': out += "&#13;"; break; // a parser would fold a bare CR
        default: out.push_back(c);
        }
    }
}

} // namespace

bool parsePlist(const std::string& text, PrefEntries& out)
{
    initLibXml();
    out.clear();
    if (text.size() > static_cast<size_t>(INT_MAX))
        return false;
    xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc == nullptr)
        return false;
    // Kept values are written into a UTF-8 file: serialise them for one, as
    // attribute values otherwise follow the read file's declaration.
    xmlFree(const_cast<xmlChar*>(doc->encoding));
    doc->encoding = xmlStrdup(BAD_CAST "UTF-8");
    bool ok = false;
    xmlNodePtr root = xmlDocGetRootElement(doc);
    std::vector<xmlNodePtr> top, pairs;
    if (root && named(root, "plist") && !refersToEntities(root) && elements(root, top) && top.size() == 1 &&
        named(top[0], "dict") && elements(top[0], pairs) && pairs.size() % 2 == 0) {
        ok = true;
        std::set<std::string> seen;
        for (size_t i = 0; ok && i < pairs.size(); i += 2) {
            PrefValueRef value;
            ok = named(pairs[i], "key") && !hasElementChild(pairs[i]);
            std::string key = ok ? content(pairs[i]) : "";
            ok = ok && seen.insert(key).second && (value = parseValue(pairs[i + 1])) != nullptr;
            if (ok)
                out.emplace_back(key, value);
        }
    }
    xmlFreeDoc(doc);
    if (!ok)
        out.clear();
    return ok;
}

std::string writePlist(const PrefEntries& entries)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [key, value] : entries) {
        out += "\t<key>";
        escape(out, key);
        out += "</key>\n\t";
        switch (value->type()) {
        case PrefType::Integer:
            out += "<integer>" + std::to_string(static_cast<const PrefNumber&>(*value).value()) + "</integer>";
            break;
        case PrefType::Boolean:
            out += static_cast<const PrefBoolean&>(*value).value() ? "<true/>" : "<false/>";
            break;
        case PrefType::String:
            out += "<string>";
            escape(out, static_cast<const PrefString&>(*value).utf8());
            out += "</string>";
            break;
        case PrefType::Array: {
            const auto& array = static_cast<const PrefArray&>(*value);
            if (array.count() == 0) {
                out += "<array/>";
                break;
            }
            out += "<array>\n";
            for (size_t i = 0; i < array.count(); ++i) {
                out += "\t\t<string>";
                escape(out, array.at(i)->utf8());
                out += "</string>\n";
            }
            out += "\t</array>";
            break;
        }
        case PrefType::Other:
            out += static_cast<const PrefOther&>(*value).xml();
            break;
        }
        out += "\n";
    }
    out += "</dict>\n</plist>\n";
    return out;
}

} // namespace settingstore
