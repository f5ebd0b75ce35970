// The property-collection service registered with the management agent: the
// product's versions and protection settings for the console, and the
// readers of the framework's version file.
#pragma once

#include <memory>
#include <string>

#include "HvoAgent.h"

namespace AppProtection {

/// The framework's version file.
constexpr char kVersionFilePath[] = "/usr/local/Vantrel/hvo/config/AppProtection/HVKConfig.xml";

/// A version text of at most 99 characters and its terminator, owned by the
/// caller.
using VersionText = std::unique_ptr<wchar_t[]>;

/// " version.build"; a value that cannot be read is empty (" ." at least).
VersionText getVersionString(const char* path = kVersionFilePath);
/// The value, or null when it is empty or a single blank.
VersionText getSPVersion(const char* path = kVersionFilePath);
VersionText getHFVersion(const char* path = kVersionFilePath);
VersionText getPatchVersion(const char* path = kVersionFilePath);

class AppProPluginPropertyCollectionImpl : public HVOEnterprise::IHvoAgentPropertyCollection {
public:
    /// Inserts the versions and settings in section "General"; true, also
    /// after an exception (traced), with the keys inserted before it.
    /// Runs on the agent's thread.
    bool collectProperties(bool collectAll, HVOEnterprise::SectionsHandle& sections) override;
    bool isSoftwareExists(const std::wstring& software) override;

    /// Inserts nothing and returns false for a section other than "General"
    /// unless every section is collected; else the handle's answer.
    bool addPropertyToSectionData(HVOEnterprise::SectionsHandle& sections, const std::wstring& section,
                                  const std::wstring& key, const std::wstring& value);

private:
    bool collectAllSections = true;
};

} // namespace AppProtection
