#include "AppProPluginPropertyCollectionImpl.h"

#include <cstring>
#include <exception>
#include <vector>

#include "ConfigController.h"
#include "LibXmlWrapper.h"
#include "StringConvert.h"
#include "TraceLevels.h"

namespace AppProtection {

namespace {

/// Characters of a version text, its terminator not counted.
constexpr size_t kVersionChars = 99;

VersionText makeText(const std::wstring& text)
{
    VersionText out(new wchar_t[kVersionChars + 1]);
    const size_t n = std::min(text.size(), kVersionChars);
    std::wmemcpy(out.get(), text.data(), n);
    out[n] = L'\0';
    return out;
}

/// The UTF-8 value as wide characters; empty (traced) when it is not UTF-8.
std::wstring widen(const std::string& value, const char* what)
{
    std::vector<wchar_t> buffer(value.size() + 1);
    int capacity = static_cast<int>(buffer.size());
    if (char2widechar(value.c_str(), buffer.data(), &capacity) != 0) {
        WARD_TRACE(zuvFlowvalue, 1, L"AppProPluginPropertyCollectionImpl::%s - value is not UTF-8\n", what);
        return std::wstring();
    }
    return std::wstring(buffer.data());
}

/// One key of the version file; null when it is empty or a single blank.
VersionText readOptional(const char* path, const char* xpath, const char* what)
{
    try {
        LibXmlWrapper xml{std::string(path)};
        const std::string value = xml.getXPathStringValue(xpath);
        if (value.empty() || value == " ")
            return nullptr;
        return makeText(widen(value, what));
    } catch (const std::exception& e) {
        WARD_TRACE(zuvFlowvalue, 1, L"AppProPluginPropertyCollectionImpl::%s - Exception: %s\n", what, e.what());
    } catch (...) {
        WARD_TRACE(zuvFlowvalue, 1, L"AppProPluginPropertyCollectionImpl::%s - Unknown exception\n", what);
    }
    return nullptr;
}

} // namespace

VersionText getVersionString(const char* path)
{
    std::wstring version, build;
    try {
        LibXmlWrapper xml{std::string(path)};
        version = widen(xml.getXPathStringValue("/HVKConfiguration/HVKVersion"), "getVersionString");
        build = widen(xml.getXPathStringValue("/HVKConfiguration/BuildNumber"), "getVersionString");
    } catch (const std::exception& e) {
        WARD_TRACE(zuvFlowvalue, 1, L"AppProPluginPropertyCollectionImpl::getVersionString - Exception: %s\n",
                   e.what());
    } catch (...) {
        WARD_TRACE(zuvFlowvalue, 1, L"AppProPluginPropertyCollectionImpl::getVersionString - Unknown exception\n");
    }
    return makeText(L" " + version + L"." + build);
}

VersionText getSPVersion(const char* path)
{
    return readOptional(path, "/HVKConfiguration/ServicePack", "getSPVersion");
}

VersionText getHFVersion(const char* path)
{
    return readOptional(path, "/HVKConfiguration/Hotfixes", "getHFVersion");
}

VersionText getPatchVersion(const char* path)
{
    return readOptional(path, "/HVKConfiguration/PatchVersion", "getPatchVersion");
}

bool AppProPluginPropertyCollectionImpl::addPropertyToSectionData(HVOEnterprise::SectionsHandle& sections,
                                                                  const std::wstring& section,
                                                                  const std::wstring& key, const std::wstring& value)
{
    if (!collectAllSections && section != L"General")
        return false;
    return sections.insert(section, key, value);
}

bool AppProPluginPropertyCollectionImpl::collectProperties(bool collectAll, HVOEnterprise::SectionsHandle& sections)
{
    WARD_TRACE(zuvFlowvalue, 0, L"AppProPluginPropertyCollectionImpl::collectProperties - Entry\n");
    collectAllSections = collectAll;
    const std::wstring general = L"General";
    try {
        VersionText product = getVersionString();
        addPropertyToSectionData(sections, general, L"szProductVer", product.get());
        if (VersionText sp = getSPVersion())
            addPropertyToSectionData(sections, general, L"szSPVersion", sp.get());

        VersionText patch = getPatchVersion();
        VersionText hotfix = getHFVersion();
        if (patch)
            WARD_TRACE(zuvFlowvalue, 1, L"AppProPluginPropertyCollectionImpl::collectProperties - Patch %ls\n",
                       patch.get());
        std::wstring fixes;
        if (patch && hotfix)
            fixes = std::wstring(patch.get()) + L"," + hotfix.get();
        else if (patch)
            fixes = patch.get();
        else if (hotfix)
            fixes = hotfix.get();
        if (!fixes.empty())
            addPropertyToSectionData(sections, general, L"szHotfix", fixes);

        ConfigController* config = ConfigController::getInstance();
        addPropertyToSectionData(sections, general, L"zUV_AppProtectionEnabled",
                                 config->getEnableAppProtection() ? L"Enabled" : L"Disabled");
        addPropertyToSectionData(sections, general, L"zUV_AllowAppleBinariesEnabled",
                                 config->getAppleSignedAppsFlag() ? L"Enabled" : L"Disabled");
        const int action = config->getUnknownAppAction();
        addPropertyToSectionData(sections, general, L"zUV_UnknownApplications",
                                 action == 1 ? L"Allow" : action == 2 ? L"Deny" : L"Prompt");
        // The whole number, however many digits it has.
        addPropertyToSectionData(sections, general, L"zUV_UnknownAppPromptTime",
                                 action == 3 ? std::to_wstring(config->getPromptTimeout()) : std::wstring(L"N/A"));
    } catch (const std::exception& e) {
        WARD_TRACE(zuvFlowvalue, 0, L"AppProPluginPropertyCollectionImpl::collectProperties - Other exception: %s\n",
                   e.what());
    } catch (...) {
        WARD_TRACE(zuvFlowvalue, 0, L"AppProPluginPropertyCollectionImpl::collectProperties - Other exception\n");
    }
    WARD_TRACE(zuvFlowvalue, 0, L"AppProPluginPropertyCollectionImpl::collectProperties - Exit\n");
    return true;
}

bool AppProPluginPropertyCollectionImpl::isSoftwareExists(const std::wstring&)
{
    return true;
}

} // namespace AppProtection
