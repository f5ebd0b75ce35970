// What the firewall service keeps beside libportward's rule store: the basic
// options and the trusted groups, in one file replaced whole on every change.
#pragma once

#include <string>

#include "FWServiceRecords.h"

namespace fwservice {

constexpr const char* kStateFile = "/usr/local/Vantrel/Firewall/var/FWServiceState";

/// The file holds one wide archive (options, then groups) as UTF-8.
class ServiceState {
public:
    explicit ServiceState(std::string path = kStateFile) : m_path(std::move(path)) {}

    /// Reads the file. Missing: the defaults (mode 4, no groups). Unreadable:
    /// the defaults, the file kept aside as "<path>.corrupt"; `problem` says
    /// what was wrong (empty otherwise).
    void load(std::string& problem);
    /// Replaces the file whole with `options` and `groups`; false (file and
    /// state unchanged) when it cannot be written.
    bool save(const FWService::FWOptionalData& options, const FWService::TrustedList& groups);

    const FWService::FWOptionalData& options() const { return m_options; }
    const FWService::TrustedList& groups() const { return m_groups; }

private:
    std::string m_path;
    FWService::FWOptionalData m_options;
    FWService::TrustedList m_groups;
};

/// UTF-8 of a wide text; false for a value that is no character.
bool toUtf8(const std::wstring& text, std::string& out);

} // namespace fwservice
