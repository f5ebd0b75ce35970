#include "ServiceState.h"

#include <cstdio>

#include "CommandData.h"
#include "FileIO.h"
#include "Utf8.h"

namespace fwservice {

namespace {

constexpr size_t kStateLimit = 4 << 20;

} // namespace

bool toUtf8(const std::wstring& text, std::string& out)
{
    out.clear();
    for (wchar_t wc : text) {
        uint32_t c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || c == 0)
            return false;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return true;
}

void ServiceState::load(std::string& problem)
{
    problem.clear();
    m_options = FWService::FWOptionalData();
    m_groups = FWService::TrustedList();
    std::string bytes;
    int err = wardfile::readFile(m_path, bytes, kStateLimit);
    if (err == ENOENT)
        return;
    bool bad = false;
    if (err != 0) {
        problem = "cannot read " + m_path + ": " + std::strerror(err);
        bad = true;
    } else {
        std::wstring text = wardutf8::decode(bytes.data(), bytes.size(), [&](std::wstring&, unsigned char) { bad = true; });
        if (bad) {
            problem = m_path + ": not UTF-8";
        } else {
            FWService::FWOptionalData options;
            FWService::TrustedList groups;
            try {
                HVO::CommandResult holder;
                HVO::PayloadAccess::setInput(holder, std::move(text));
                if (!HVO::PayloadAccess::hasInput(holder))
                    throw std::runtime_error("no archive");
                holder.getCustomData(options);
                holder.getCustomData(groups);
                m_options = options;
                m_groups = groups;
            } catch (const std::exception& e) {
                problem = m_path + ": " + e.what();
                bad = true;
            }
        }
    }
    if (bad && err != EISDIR) {
        const std::string aside = m_path + ".corrupt";
        if (std::rename(m_path.c_str(), aside.c_str()) == 0)
            problem += " (kept as " + aside + ")";
    }
}

bool ServiceState::save(const FWService::FWOptionalData& options, const FWService::TrustedList& groups)
{
    std::string bytes;
    {
        HVO::CommandResult holder;
        FWService::FWOptionalData o = options;
        FWService::TrustedList g = groups;
        holder.setCustomData(o);
        holder.setCustomData(g);
        if (!HVO::PayloadAccess::hasData(holder) || !toUtf8(HVO::PayloadAccess::outputText(holder), bytes))
            return false;
    }
    if (wardfile::makeDirectories(wardfile::parentPath(m_path)) != 0)
        return false;
    if (wardfile::replaceFile(m_path, 0600, bytes.data(), bytes.size()).error != 0)
        return false;
    m_options = options;
    m_groups = groups;
    return true;
}

} // namespace fwservice
