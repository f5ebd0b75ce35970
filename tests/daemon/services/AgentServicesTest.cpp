// The management agent's services in process, on the agent stand-in without
// its control socket: property collection against version files written at
// the framework's path, policies against the configuration in memory and a
// controller on a fake kernel, registration by the agent's failure hooks,
// the agent's log callback and the plug-in requests of SIGUSR2.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <array>
#include <climits>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "AgentControl.h"
#include "AppHVOAgentWrapper.h"
#include "AppProPluginPolicyEnforcementImpl.h"
#include "AppProPluginPropertyCollectionImpl.h"
#include "AppProtectionController.h"
#include "ConfigController.h"
#include "CoreTestSupport.h"
#include "FakeKernelControl.h"
#include "HvoAgent.h"
#include "MakeProfile.h"
#include "MemoryPreferences.h"
#include "ThrowingSections.h"
#include "TraceLevels.h"

using namespace AppProtection;
using HVOEnterprise::SectionsHandle;

namespace {

const char kDomain[] = "com.vantrel.zrm.appprotection";

/// Key/value rows of section "General" as the handle holds them.
std::vector<std::pair<std::wstring, std::wstring>> general(const SectionsHandle& h)
{
    std::vector<std::pair<std::wstring, std::wstring>> out;
    for (const SectionsHandle::Entry& e : h.entries()) {
        EXPECT_EQ(e.section, L"General");
        out.emplace_back(e.key, e.value);
    }
    return out;
}

SectionsHandle policyOf(const std::vector<std::array<std::wstring, 3>>& rows)
{
    SectionsHandle h;
    for (const auto& r : rows)
        h.insert(r[0], r[1], r[2]);
    return h;
}

/// The configuration in memory, a controller on the fake kernel with a
/// profile in a scratch folder, and a trace file the test reads.
class AgentServicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        AppProtectionController::releaseInstance();
        store.reset(new settingstoretest::MemoryPreferences);
        ConfigController::releaseInstance();
        config = ConfigController::getInstance();
        putString("ProfilePath", dir / "profile.data");
        putString("PIDFilePath", dir / ".AppProtPid");
        store->put(kDomain, "EnableAppProtection", PrefBoolean::get(false));
        // As the controller leaves it on a machine without codesign.
        store->put(kDomain, "AllowAppleSignedApps", PrefBoolean::get(false));
        HVOEnterprise::control::setSocketPath("");
        HVOEnterprise::control::setFailure(HVOEnterprise::control::Failure::NONE);
        wardtrace::openLogFile((dir / "trace").c_str());
        wardtrace::setLevel(zuvFlowvalue, 5);
        std::filesystem::create_directories("/usr/local/Vantrel/hvo/config/AppProtection");
        std::filesystem::remove(kVersionFilePath);
    }
    void TearDown() override
    {
        AppProtectionController::releaseInstance();
        HVOEnterprise::HvoAgent::releaseInstance();
        ConfigController::releaseInstance();
        store.reset();
        wardtrace::endTracing();
        wardtrace::setLevel(zuvFlowvalue, 0);
        HVOEnterprise::control::setFailure(HVOEnterprise::control::Failure::FROM_ENV);
    }

    void putString(const char* key, const std::string& value)
    {
        store->put(kDomain, key, PrefString::createWithUTF8(value));
    }
    void putInt(const char* key, int value) { store->put(kDomain, key, std::make_shared<PrefNumber>(value)); }

    AppProtectionController* makeController(bool load = true)
    {
        AppProtectionController::Dependencies deps;
        deps.kernelControl = std::make_unique<coretest::FakeKernelControl>();
        deps.processSource = std::make_unique<coretest::NoProcesses>();
        deps.codeSignChecker = std::make_unique<coretest::CountingChecker>(std::set<std::string>{}, false);
        AppProtectionController::setDependencies(std::move(deps));
        AppProtectionController* c = AppProtectionController::getInstance();
        if (load)
            c->loadProfile(false);
        return c;
    }

    void writeVersionFile(const std::string& body)
    {
        std::ofstream(kVersionFilePath) << "<?xml version=\"1.0\"?>\n<HVKConfiguration>" << body
                                        << "</HVKConfiguration>\n";
    }

    std::string trace() { return testfiles::readFile(dir / "trace"); }

    testfiles::TempDir dir;
    std::unique_ptr<settingstoretest::MemoryPreferences> store;
    ConfigController* config = nullptr;
};

// ---------------------------------------------------------------------------
// Property collection

TEST_F(AgentServicesTest, CollectionByVersionFileAndSettings)
{
    const std::string full = "<HVKVersion>8.0</HVKVersion><BuildNumber>123</BuildNumber>"
                             "<ServicePack> </ServicePack><PatchVersion>P1</PatchVersion><Hotfixes>HF2</Hotfixes>";
    using Rows = std::vector<std::pair<std::wstring, std::wstring>>;
    struct Case {
        const char* name;
        const char* versionFile; // null: no file
        int action;
        int timeout;
        Rows versions;                  // the version keys
        const wchar_t* unknown;         // zUV_UnknownApplications
        const wchar_t* promptTime;      // zUV_UnknownAppPromptTime
    } cases[] = {
        {"full file, prompt", full.c_str(), 3, 60, {{L"szProductVer", L" 8.0.123"}, {L"szHotfix", L"P1,HF2"}},
         L"Prompt", L"60"},
        {"no version file", nullptr, 1, 60, {{L"szProductVer", L" ."}}, L"Allow", L"N/A"},
        {"service pack, no patch", "<HVKVersion>8</HVKVersion><ServicePack>SP3</ServicePack><Hotfixes>HF2</Hotfixes>",
         2, 60, {{L"szProductVer", L" 8."}, {L"szSPVersion", L"SP3"}, {L"szHotfix", L"HF2"}}, L"Deny", L"N/A"},
        {"patch and hotfix single blanks, action 0", "<PatchVersion> </PatchVersion><Hotfixes> </Hotfixes>", 0, 60,
         {{L"szProductVer", L" ."}}, L"Prompt", L"N/A"},
        {"patch only, action 7", "<PatchVersion>P1</PatchVersion>", 7, 60,
         {{L"szProductVer", L" ."}, {L"szHotfix", L"P1"}}, L"Prompt", L"N/A"},
        {"four-digit time-out", "", 3, 1000, {{L"szProductVer", L" ."}}, L"Prompt", L"1000"},
        {"negative time-out", "", 3, -100, {{L"szProductVer", L" ."}}, L"Prompt", L"-100"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(kVersionFilePath);
        if (c.versionFile != nullptr)
            writeVersionFile(c.versionFile);
        putInt("UnknownAppAction", c.action);
        putInt("PromptTimeout", c.timeout);
        AppProPluginPropertyCollectionImpl service;
        SectionsHandle h;
        Rows want = c.versions;
        want.insert(want.end(), {{L"zUV_AppProtectionEnabled", L"Disabled"},
                                 {L"zUV_AllowAppleBinariesEnabled", L"Disabled"},
                                 {L"zUV_UnknownApplications", c.unknown},
                                 {L"zUV_UnknownAppPromptTime", c.promptTime}});
        EXPECT_TRUE(service.collectProperties(true, h));
        EXPECT_EQ(general(h), want);
        SectionsHandle some;
        EXPECT_TRUE(service.collectProperties(false, some));
        EXPECT_EQ(general(some), want) << "every key is in General";
    }
}

TEST_F(AgentServicesTest, CollectionSettingsEnabledAndLongVersionsCut)
{
    writeVersionFile("<HVKVersion>" + std::string(120, '9') + "</HVKVersion><Hotfixes>caf\xc3\xa9</Hotfixes>");
    store->put(kDomain, "EnableAppProtection", PrefBoolean::get(true));
    store->put(kDomain, "AllowAppleSignedApps", PrefBoolean::get(true));
    AppProPluginPropertyCollectionImpl service;
    SectionsHandle h;
    EXPECT_TRUE(service.collectProperties(true, h));
    const auto got = general(h);
    ASSERT_GE(got.size(), 4u);
    EXPECT_EQ(got[0].second, L" " + std::wstring(98, L'9')) << "99 characters at most";
    EXPECT_EQ(got[1], std::make_pair(std::wstring(L"szHotfix"), std::wstring(L"caf\u00e9")));
    EXPECT_EQ(got[2].second, L"Enabled");
    EXPECT_EQ(got[3].second, L"Enabled");
}

TEST_F(AgentServicesTest, CollectionSectionFlagAndAThrowingHandle)
{
    AppProPluginPropertyCollectionImpl service;
    SectionsHandle h;
    EXPECT_TRUE(service.addPropertyToSectionData(h, L"Other", L"k", L"v")) << "every section is collected at first";
    EXPECT_TRUE(service.collectProperties(false, h));
    const size_t before = h.entries().size();
    EXPECT_FALSE(service.addPropertyToSectionData(h, L"Other", L"k2", L"v"));
    EXPECT_TRUE(service.addPropertyToSectionData(h, L"General", L"k3", L"v"));
    EXPECT_EQ(h.entries().size(), before + 1);

    agentbridgetest::ThrowingSections throwing(4);
    EXPECT_TRUE(service.collectProperties(true, throwing));
    ASSERT_EQ(throwing.entries().size(), 3u);
    EXPECT_EQ(throwing.entries()[2].key, L"zUV_AllowAppleBinariesEnabled");
    EXPECT_NE(trace().find("AppProPluginPropertyCollectionImpl::collectProperties - Other exception"),
              std::string::npos);
}

// ---------------------------------------------------------------------------
// Policy: settings

TEST_F(AgentServicesTest, PolicySettings)
{
    struct Case {
        const char* name;
        std::vector<std::array<std::wstring, 3>> policy;
        const char* key;
        int before;
        int after; // the preference read back
        bool result;
    } cases[] = {
        {"EnforcePolicy 0 ignores General",
         {{L"QELVNMAC1100", L"EnforcePolicy", L"0"}, {L"General", L"zUV_UnknownApplications", L"2"}},
         "UnknownAppAction", 1, 1, true},
        {"EnforcePolicy 1 applies",
         {{L"QELVNMAC1100", L"EnforcePolicy", L"1"}, {L"General", L"zUV_UnknownApplications", L"2"}},
         "UnknownAppAction", 1, 2, true},
        {"EnforcePolicy absent applies", {{L"General", L"zUV_UnknownApplications", L"2"}}, "UnknownAppAction", 1, 2,
         true},
        {"EnforcePolicy out of range counts as absent",
         {{L"QELVNMAC1100", L"EnforcePolicy", L"99999999999"}, {L"General", L"zUV_UnknownApplications", L"2"}},
         "UnknownAppAction", 1, 2, true},
        {"action 4 ignored", {{L"General", L"zUV_UnknownApplications", L"4"}}, "UnknownAppAction", 1, 1, true},
        {"action 0 ignored", {{L"General", L"zUV_UnknownApplications", L"0"}}, "UnknownAppAction", 1, 1, true},
        {"action 3 stored", {{L"General", L"zUV_UnknownApplications", L"3"}}, "UnknownAppAction", 1, 3, true},
        {"time-out blank 42", {{L"General", L"zUV_UnknownAppPromptTime", L" 42"}}, "PromptTimeout", 60, 42, true},
        {"time-out +3", {{L"General", L"zUV_UnknownAppPromptTime", L"+3"}}, "PromptTimeout", 60, 3, true},
        {"time-out 3abc", {{L"General", L"zUV_UnknownAppPromptTime", L"3abc"}}, "PromptTimeout", 60, 3, true},
        {"time-out abc", {{L"General", L"zUV_UnknownAppPromptTime", L"abc"}}, "PromptTimeout", 60, 0, true},
        {"time-out -1", {{L"General", L"zUV_UnknownAppPromptTime", L"-1"}}, "PromptTimeout", 60, -1, true},
        {"time-out beyond int", {{L"General", L"zUV_UnknownAppPromptTime", L"99999999999"}}, "PromptTimeout", 60,
         60, true},
        {"time-out just beyond int", {{L"General", L"zUV_UnknownAppPromptTime", L"2147483648"}}, "PromptTimeout",
         60, 60, true},
        {"time-out INT_MIN", {{L"General", L"zUV_UnknownAppPromptTime", L"-2147483648"}}, "PromptTimeout", 60,
         INT_MIN, true},
    };
    makeController();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        putInt(c.key, c.before);
        const int writes = store->writes();
        AppProPluginPolicyEnforcementImpl service;
        EXPECT_EQ(service.enforcePolicy(L"", policyOf(c.policy)), c.result);
        EXPECT_EQ(std::string(c.key) == "PromptTimeout" ? config->getPromptTimeout() : config->getUnknownAppAction(),
                  c.after);
        if (c.after == c.before) {
            EXPECT_EQ(store->writes(), writes) << "nothing written";
        }
    }
    EXPECT_NE(trace().find("zUV_UnknownAppPromptTime out of range, ignored"), std::string::npos);
}

TEST_F(AgentServicesTest, PolicyFlagsAndARefusingStore)
{
    makeController();
    AppProPluginPolicyEnforcementImpl service;
    store->put(kDomain, "AllowAppleSignedApps", PrefBoolean::get(true));
    // No /usr/bin/codesign on this machine: 1 stores false.
    ASSERT_NE(::access("/usr/bin/codesign", F_OK), 0);
    EXPECT_TRUE(service.enforcePolicy(L"", policyOf({{L"General", L"zUV_AllowAppleBinariesEnabled", L"1"}})));
    EXPECT_FALSE(config->getAppleSignedAppsFlag());

    EXPECT_TRUE(service.enforcePolicy(L"", policyOf({{L"General", L"zUV_AppProtectionEnabled", L"0"}})));
    EXPECT_FALSE(config->getEnableAppProtection());

    // A refused setting: the others still apply, the call says false.
    putInt("UnknownAppAction", 1);
    store->failWrites(settingstoretest::MemoryPreferences::Failure::Refuse);
    EXPECT_FALSE(service.enforcePolicy(L"", policyOf({{L"General", L"zUV_UnknownApplications", L"2"}})));
    store->failWrites(settingstoretest::MemoryPreferences::Failure::None);
    EXPECT_EQ(config->getUnknownAppAction(), 1);
    // The second overload does nothing.
    EXPECT_TRUE(service.enforcePolicy(L"", L"user", L"domain", 0, 0,
                                      policyOf({{L"General", L"zUV_UnknownApplications", L"2"}})));
    EXPECT_EQ(config->getUnknownAppAction(), 1);
}

// ---------------------------------------------------------------------------
// Policy: exclusions

TEST_F(AgentServicesTest, PolicyExclusions)
{
    const std::wstring surrogate(1, wchar_t(0xD800));
    struct Case {
        const char* name;
        std::vector<std::array<std::wstring, 3>> policy;
        std::vector<std::string> stored; // after; empty `written` keeps ["/a", "/b"]
        bool written;
    } cases[] = {
        {"same entries in another order",
         {{L"Exclusions", L"zUV_NoOfApplications", L"2"}, {L"Exclusions", L"zUV_App_1", L"/b"},
          {L"Exclusions", L"zUV_App_2", L"/a"}},
         {"/a", "/b"}, false},
        {"one entry replaced",
         {{L"Exclusions", L"zUV_NoOfApplications", L"2"}, {L"Exclusions", L"zUV_App_1", L"/a"},
          {L"Exclusions", L"zUV_App_2", L"/c"}},
         {"/a", "/c"}, true},
        {"none", {{L"Exclusions", L"zUV_NoOfApplications", L"0"}}, {}, true},
        {"negative count", {{L"Exclusions", L"zUV_NoOfApplications", L"-3"}}, {}, true},
        {"a repeated entry is not the same multiset",
         {{L"Exclusions", L"zUV_NoOfApplications", L"2"}, {L"Exclusions", L"zUV_App_1", L"/a"},
          {L"Exclusions", L"zUV_App_2", L"/a"}},
         {"/a", "/a"}, true},
        {"absent entry skipped",
         {{L"Exclusions", L"zUV_NoOfApplications", L"3"}, {L"Exclusions", L"zUV_App_1", L"/a"},
          {L"Exclusions", L"zUV_App_3", L"/c"}},
         {"/a", "/c"}, true},
        {"empty, 1,024-byte and surrogate entries skipped",
         {{L"Exclusions", L"zUV_NoOfApplications", L"4"}, {L"Exclusions", L"zUV_App_1", L""},
          {L"Exclusions", L"zUV_App_2", L"/" + std::wstring(1023, L'x')}, {L"Exclusions", L"zUV_App_3", surrogate},
          {L"Exclusions", L"zUV_App_4", L"/c"}},
         {"/c"}, true},
        {"a long path is kept whole",
         {{L"Exclusions", L"zUV_NoOfApplications", L"1"}, {L"Exclusions", L"zUV_App_1", L"/" + std::wstring(299, L'\u00e9')}},
         {"/" + [] {
              std::string s;
              for (int i = 0; i < 299; ++i)
                  s += "\xc3\xa9";
              return s;
          }()},
         true},
        {"no count: untouched", {{L"Exclusions", L"zUV_App_1", L"/z"}}, {"/a", "/b"}, false},
    };
    makeController();
    AppProPluginPolicyEnforcementImpl service;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> start{"/a", "/b"};
        ASSERT_EQ(config->setExclusionsList(start), SUCCESS);
        ASSERT_EQ(config->setExclusionsChanged(false), SUCCESS);
        const int writes = store->writes();
        EXPECT_TRUE(service.enforcePolicy(L"", policyOf(c.policy)));
        EXPECT_EQ(config->getExclusionsList(), c.stored);
        EXPECT_EQ(config->getExclusionsChanged(), c.written);
        if (!c.written) {
            EXPECT_EQ(store->writes(), writes);
        }
    }
    const std::string t = trace();
    EXPECT_NE(t.find("zUV_App_2 skipped (absent)"), std::string::npos);
    EXPECT_NE(t.find("zUV_App_1 skipped (empty)"), std::string::npos);
    EXPECT_NE(t.find("zUV_App_2 skipped (too long)"), std::string::npos);
    EXPECT_NE(t.find("zUV_App_3 skipped (no UTF-8 form)"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Policy: custom-rule texts

TEST(PolicyRuleTexts, FieldsOfTheConsolesRuleText)
{
    struct Case {
        const char* text;
        bool kept;
        int protocol;
        uint32_t address;
        int bits;
        int low, high;
        int direction;
        int action;
    } cases[] = {
        {"2,10.0.0.0/8,DNS,1,1", true, NW_UDP, 0x0A000000, 8, 53, 53, INCOMING_CONNECTION, ACTION_ALLOW},
        {"1,ANY_IP,ANY_PORT,3,0", true, NW_TCP, 0, 0, 0, 0, INCOMING_OUTGOING_CONNECTION, ACTION_BLOCK},
        {"1,,80,1,1", true, NW_TCP, 80, 0, 1, 1, INCOMING_CONNECTION, ACTION_ALLOW},
        {"4294967297,10.0.0.1,80,4294967298,1", true, NW_TCP_UDP, 0x0A000001, 0, 80, 80,
         INCOMING_OUTGOING_CONNECTION, ACTION_ALLOW},
        {"2", true, NW_UDP, 0, 0, 0, 0, OUTGOING_CONNECTION, ACTION_ALLOW},
        {"", true, NW_TCP, 0, 0, 0, 0, OUTGOING_CONNECTION, ACTION_ALLOW},
        {",,,", true, NW_TCP, 0, 0, 0, 0, OUTGOING_CONNECTION, ACTION_ALLOW},
        {"1,10.0.0.1,1000-2000,2,1,extra", true, NW_TCP, 0x0A000001, 0, 1000, 2000, OUTGOING_CONNECTION,
         ACTION_ALLOW},
        {"1,300.1.1.1,80,1,1", false, 0, 0, 0, 0, 0, 0, 0},
        {"1,10.0.0.1,80-80,1,1", false, 0, 0, 0, 0, 0, 0, 0},
        {"1,10.0.0.1/32,80,1,1", false, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        NetworkRule rule;
        ASSERT_EQ(AppProPluginPolicyEnforcementImpl::getNetWorkRuleFromString(c.text, 3, rule), c.kept);
        if (!c.kept) {
            EXPECT_EQ(rule, NetworkRule()) << "a dropped rule leaves the caller's untouched";
            continue;
        }
        NetworkRule want;
        want.setOrder(2);
        want.setNWProtocol(static_cast<NWProtocol>(c.protocol));
        want.setDirection(static_cast<Operation>(c.direction));
        want.setAction(static_cast<actions>(c.action));
        EXPECT_EQ(rule.getOrder(), 2);
        EXPECT_EQ(rule.getNWProtocol(), c.protocol);
        EXPECT_EQ(rule.getDirection(), c.direction);
        EXPECT_EQ(rule.getAction(), c.action);
        EXPECT_EQ(rule.getPortRangeStart(), c.low);
        EXPECT_EQ(rule.getPortRangeEnd(), c.high);
        std::ostringstream dump;
        rule.print(dump);
        SCOPED_TRACE(dump.str());
        sockaddr_in peer{};
        peer.sin_addr.s_addr = htonl(c.address);
        peer.sin_port = static_cast<in_port_t>(c.low);
        // The stored address: the rule covers exactly its network.
        EXPECT_TRUE(rule.matches(peer, static_cast<short>(c.protocol == NW_TCP_UDP ? NW_UDP : c.protocol),
                                 c.direction == INCOMING_OUTGOING_CONNECTION ? INCOMING_CONNECTION
                                                                             : static_cast<Operation>(c.direction)));
    }
}

// ---------------------------------------------------------------------------
// Policy: rules and the profile gate

TEST_F(AgentServicesTest, PolicyRulesReplaceTheProfilesRules)
{
    const std::string apps = dir / "apps";
    std::filesystem::create_directory(apps);
    for (const char* name : {"R", "D"})
        std::filesystem::copy_file(coretest::fixtures() + "/" + name, apps + "/" + name);
    daemontest::makeProfile(dir / "profile.data",
                            {daemontest::Rule{apps + "/R", true, BasicAppRecord::NW_ACTION_ALLOW_ALL}});
    AppProtectionController* controller = makeController();
    AppProPluginPolicyEnforcementImpl service;
    const std::wstring d(apps.begin(), apps.end());
    EXPECT_TRUE(service.enforcePolicy(L"",
                                      policyOf({{L"Rules", L"zUV_NoOfRules", L"1"},
                                                {L"Rules", L"zUV_AppName_1", d + L"/D"},
                                                {L"Rules", L"zUV_AppStatus_1", L"3"},
                                                {L"Rules", L"zUV_AppDetailsNum_1", L"3"},
                                                {L"Rules", L"zUV_AppDetails_1_1", L"2,10.0.0.0/8,DNS,1,1"},
                                                {L"Rules", L"zUV_AppDetails_1_2", L"1,300.1.1.1,80,1,1"},
                                                {L"Rules", L"zUV_AppDetails_1_3", L"1,ANY_IP,ANY_PORT,3,0"}})));
    const std::list<BasicAppRecord> rules = controller->getAllProfileRules(true);
    ASSERT_EQ(rules.size(), 1u);
    const BasicAppRecord& r = rules.front();
    EXPECT_EQ(r.getAppGroup(), apps + "/D");
    EXPECT_TRUE(r.getExecAllowed());
    EXPECT_EQ(r.getNwAction(), BasicAppRecord::NW_ACTION_CUSTOM);
    const std::list<NetworkRule> nw = r.getNwRules();
    ASSERT_EQ(nw.size(), 2u) << "the refused text is dropped, the others kept";
    EXPECT_EQ(nw.front().getOrder(), 0);
    EXPECT_EQ(nw.back().getOrder(), 2);
    EXPECT_NE(trace().find("address 300.1.1.1 refused, rule dropped"), std::string::npos);
}

TEST_F(AgentServicesTest, APolicyWaitsForTheProfileAndGivesUpAtShutdown)
{
    AppProtectionController* controller = makeController(false);
    putInt("PromptTimeout", 60);
    AppProPluginPolicyEnforcementImpl service;
    const SectionsHandle policy = policyOf({{L"General", L"zUV_UnknownAppPromptTime", L"45"}});
    auto waiting = std::async(std::launch::async, [&] { return service.enforcePolicy(L"", policy); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    EXPECT_EQ(config->getPromptTimeout(), 60);
    controller->loadProfile(false);
    EXPECT_TRUE(waiting.get());
    EXPECT_EQ(config->getPromptTimeout(), 45);

    // Released before a profile: the waiting call changes nothing.
    AppProtectionController::releaseInstance();
    controller = makeController(false);
    auto abandoned = std::async(std::launch::async, [&] {
        return service.enforcePolicy(L"", policyOf({{L"General", L"zUV_UnknownAppPromptTime", L"30"}}));
    });
    EXPECT_EQ(abandoned.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    controller->releaseAppHVOMAgentWrapper();
    EXPECT_FALSE(abandoned.get());
    EXPECT_EQ(config->getPromptTimeout(), 45);
}

// ---------------------------------------------------------------------------
// Registration

TEST_F(AgentServicesTest, RegistrationByTheAgentsAnswer)
{
    using HVOEnterprise::control::Failure;
    struct Case {
        const char* name;
        Failure failure;
        bool agent;
        agentwire::ServiceState property, policy;
        bool wrapperThrows;
    } cases[] = {
        {"none", Failure::NONE, true, agentwire::REGISTERED, agentwire::REGISTERED, false},
        {"create", Failure::CREATE, false, agentwire::NEVER_OFFERED, agentwire::NEVER_OFFERED, false},
        {"property", Failure::PROPERTY, true, agentwire::REFUSED, agentwire::NEVER_OFFERED, false},
        {"policy", Failure::POLICY, true, agentwire::REGISTERED, agentwire::REFUSED, false},
        {"throw", Failure::THROW, false, agentwire::NEVER_OFFERED, agentwire::NEVER_OFFERED, true},
    };
    makeController();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HVOEnterprise::control::setFailure(c.failure);
        std::unique_ptr<AppHVOAgentWrapper> wrapper;
        if (c.wrapperThrows) {
            EXPECT_THROW(wrapper.reset(new AppHVOAgentWrapper()), std::runtime_error);
        } else {
            wrapper.reset(new AppHVOAgentWrapper());
        }
        HVOEnterprise::control::Status s;
        ASSERT_EQ(HVOEnterprise::control::status(s), c.agent);
        if (c.agent) {
            EXPECT_EQ(s.softwareId, "QELVNMAC1100");
            EXPECT_EQ(s.agentId, "ZOVOVORU3700RUZA");
            EXPECT_EQ(s.processId, std::to_string(::getpid()));
            EXPECT_EQ(s.logDirectory, L"/var/tmp");
            EXPECT_EQ(s.property, c.property);
            EXPECT_EQ(s.policy, c.policy);
            SectionsHandle h;
            EXPECT_EQ(HVOEnterprise::control::collectProperties(true, h).outcome,
                      c.property == agentwire::REGISTERED ? agentwire::OUT_TRUE : agentwire::OUT_NO_SERVICE);
        }
        // Destroyed with or without an agent; LeakSanitizer checks that a
        // refused service was deleted.
        wrapper.reset();
        EXPECT_EQ(HVOEnterprise::HvoAgent::getInstance(), nullptr);
    }
}

TEST_F(AgentServicesTest, TheDestructorLeavesAnAgentItDoesNotSeeAlone)
{
    HVOEnterprise::control::setFailure(HVOEnterprise::control::Failure::CREATE);
    auto* wrapper = new AppHVOAgentWrapper();
    HVOEnterprise::control::setFailure(HVOEnterprise::control::Failure::NONE);
    delete wrapper; // no agent: nothing deleted, nothing released
    EXPECT_EQ(HVOEnterprise::HvoAgent::getInstance(), nullptr);
}

// ---------------------------------------------------------------------------
// The agent's log callback

TEST_F(AgentServicesTest, AgentLogLinesByCategoryAndLevel)
{
    const int categories[] = {0, 1, 2, 3, 7, -1};
    const int mapped[] = {1, 2, 4, 5, 1, 1};
    for (int level : {0, 1, 2, 4, 5}) {
        wardtrace::setLevel(zuvFlowvalue, level);
        for (size_t i = 0; i < 6; ++i) {
            SCOPED_TRACE("level " + std::to_string(level) + " category " + std::to_string(categories[i]));
            const std::string before = trace();
            const std::wstring text = L"agent caf\u00e9 " + std::to_wstring(level) + L"/" + std::to_wstring(i);
            AppHVOAgentWrapper::agentLogger(categories[i], text.c_str());
            const std::string added = trace().substr(before.size());
            const std::string line = "agent caf\xc3\xa9 " + std::to_string(level) + "/" + std::to_string(i) + "\n";
            EXPECT_EQ(added, mapped[i] <= level ? line : std::string());
        }
    }
    // Tracing closed: nothing, at any level.
    wardtrace::setLevel(zuvFlowvalue, 5);
    wardtrace::endTracing();
    AppHVOAgentWrapper::agentLogger(0, L"closed");
    AppHVOAgentWrapper::agentLogger(0, nullptr);
    EXPECT_EQ(trace().find("closed"), std::string::npos);
    // Through the agent, on its thread: a character without UTF-8 form is "?".
    wardtrace::openLogFile((dir / "trace").c_str());
    AppHVOAgentWrapper wrapper;
    std::wstring odd = L"x";
    odd += wchar_t(0xDC00);
    EXPECT_EQ(HVOEnterprise::control::log(2, odd).outcome, agentwire::OUT_TRUE);
    EXPECT_NE(trace().find("x?\n"), std::string::npos);
}

// ---------------------------------------------------------------------------
// SIGUSR2: the plug-in change file

TEST_F(AgentServicesTest, PluginChangeFileChoosesReloadOrUnload)
{
    struct Case {
        const char* name;
        const char* content; // null: no file
        unsigned reloads, unloads;
    } cases[] = {
        {"RELOAD", "RELOAD\n", 1, 0},
        {"blanks and more words", "  RELOAD extra", 1, 0},
        {"lower case", "reload", 0, 1},
        {"longer word", "RELOADX", 0, 1},
        {"UNLOAD", "UNLOAD", 0, 1},
        {"empty", "", 0, 1},
        {"missing", nullptr, 0, 0},
    };
    makeController();
    auto wrapper = std::make_unique<AppHVOAgentWrapper>();
    std::filesystem::create_directories("/usr/local/Vantrel/AppProtection/var");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(kPluginChangePath);
        if (c.content != nullptr)
            std::ofstream(kPluginChangePath) << c.content;
        HVOEnterprise::control::Counts before, after;
        ASSERT_TRUE(HVOEnterprise::control::counts(before));
        AppProtectionController::pluginChangeHandler(SIGUSR2);
        ASSERT_TRUE(HVOEnterprise::control::counts(after));
        EXPECT_EQ(after.reloads - before.reloads, c.reloads);
        EXPECT_EQ(after.unloads - before.unloads, c.unloads);
    }
    // Without an agent: nothing, and nothing breaks.
    wrapper.reset();
    AppHVOAgentWrapper::reloadMAPlugins();
    AppHVOAgentWrapper::unloadMAPlugins();
}

} // namespace
