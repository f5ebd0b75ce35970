// The command handler through the in-process hub: each served command's
// reply byte for byte, failures answered with a failure reply, unserved ids
// with none; the 20005 merge; the health check.
#include "ServicesTestSupport.h"

#include <fstream>

#include "AppProtCommands.h"

namespace {

using namespace servicestest;
using AppProtection::AppProtError;
using AppProtection::BasicAppRecord;
using AppProtection::CommandImpl;

class CommandImplTest : public ServicesTest {
protected:
    /// Delivers command `id` with `payload` as its archive text (none when
    /// empty) and returns the reply.
    std::optional<HVO::TestPeer::Reply> send(int id, const std::wstring& payload = L"",
                                             std::chrono::milliseconds timeout = std::chrono::milliseconds(10000))
    {
        HVO::CommandData command(id, 3, false);
        if (!payload.empty())
            HVO::PayloadAccess::setOutputText(command, payload);
        return hub().peer.deliverCommand(command, timeout);
    }
    template <class T> std::wstring text(T value)
    {
        HVO::CommandData holder(0, 0, false);
        holder.setCustomData(value);
        return HVO::PayloadAccess::outputText(holder);
    }
    /// The reply's payload text; a failed check when it is no success.
    std::wstring ok(int id, const std::wstring& payload = L"")
    {
        auto reply = send(id, payload);
        if (!reply) {
            ADD_FAILURE() << "no reply to " << id;
            return L"";
        }
        EXPECT_TRUE(reply->status);
        EXPECT_TRUE(reply->completed);
        EXPECT_EQ(id, reply->header.getCommandId());
        return reply->text;
    }
    BasicAppRecord rule(const std::string& path, const std::string& group = "")
    {
        BasicAppRecord r;
        r.setAppPath(path);
        r.setAppGroup(group.empty() ? path : group);
        r.setExecAllowed(false);
        r.setNwAction(BasicAppRecord::NW_ACTION_BLOCK_ALL);
        r.setEnabled(true);
        return r;
    }
};

TEST(SetPrefsMerge, OneCodeFromFive)
{
    using V = std::vector<AppProtError>;
    const AppProtError S = AppProtection::SUCCESS;
    struct Case {
        V codes;
        AppProtError merged;
    } cases[] = {
        {V{S, S, S, S, S}, S},
        {V{AppProtection::PREFERENCES_STORE_FAILED, S, AppProtection::VALUE_OUT_OF_RANGE, S, S},
         AppProtection::PREFERENCES_STORE_FAILED},
        {V{AppProtection::VALUE_OUT_OF_RANGE, AppProtection::UNEXPECTED_EXCEPTION, AppProtection::PREFERENCES_STORE_FAILED,
           S, S},
         AppProtection::UNEXPECTED_EXCEPTION},
        {V{AppProtection::VALUE_OUT_OF_RANGE, S, S, S, AppProtection::PREFERENCES_STORE_FAILED},
         AppProtection::PREFERENCES_STORE_FAILED},
        {V{S, S, AppProtection::VALUE_OUT_OF_RANGE, static_cast<AppProtError>(20007), S},
         static_cast<AppProtError>(20007)},
        {V{}, S},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.merged, CommandImpl::mergeSetPrefsResults(c.codes));
}

TEST_F(CommandImplTest, DashBoard)
{
    start();
    EXPECT_EQ(kHeader + L" 0 0 3 0 0 1 0 0 0 33 APPLICATION_PROTECTION_STATUS_KEY 0 0 15 DISABLED_STRING 2",
              ok(1003));
    m_store->put(kDomain, "EnableAppProtection", PrefBoolean::get(true));
    EXPECT_EQ(kHeader + L" 0 0 3 0 0 1 0 0 0 33 APPLICATION_PROTECTION_STATUS_KEY 0 0 11 RISK_STRING 1", ok(1003));
    controller->enableAppProtection();
    EXPECT_EQ(kHeader + L" 0 0 3 0 0 1 0 0 0 33 APPLICATION_PROTECTION_STATUS_KEY 0 0 14 ENABLED_STRING 0",
              ok(1003));
    controller->disableAppProtection();
}

TEST_F(CommandImplTest, AboutBox)
{
    const std::string path = "/usr/local/Vantrel/hvo/config/AppProtection/HVKConfig.xml";
    std::filesystem::create_directories("/usr/local/Vantrel/hvo/config/AppProtection");
    const std::string x150(150, 'x');
    struct Case {
        const char* what;
        std::optional<std::string> body; // none: no file
        std::wstring reply;
    } cases[] = {
        {"full", std::string("<HVKVersion>8.0</HVKVersion><BuildNumber>123</BuildNumber><ServicePack> </ServicePack>"
                             "<Hotfixes>HF2</Hotfixes>"),
         L" 0 0 3 0 0 2 0 0 0 25 Application_Protection_HF 3 HF2 30 Application_Protection_Version 9 8.0 (123)"},
        {"patch", std::string("<HVKVersion>8.0</HVKVersion><BuildNumber>123</BuildNumber><PatchVersion>P1"
                              "</PatchVersion><ServicePack>SP1</ServicePack>"),
         L" 0 0 3 0 0 3 0 0 0 25 Application_Protection_HF 0  32 Application_Protection_SPVersion 3 SP1 30 "
         L"Application_Protection_Version 12 8.0 P1 (123)"},
        {"no file", std::nullopt,
         L" 0 0 3 0 0 3 0 0 0 25 Application_Protection_HF 0  32 Application_Protection_SPVersion 0  30 "
         L"Application_Protection_Version 3  ()"},
        {"150 characters",
         "<HVKVersion>" + x150 + "</HVKVersion><PatchVersion>P1</PatchVersion><BuildNumber>123</BuildNumber>"
                                 "<ServicePack> </ServicePack><Hotfixes>" + x150 + "</Hotfixes>",
         L" 0 0 3 0 0 2 0 0 0 25 Application_Protection_HF 99 " + std::wstring(99, L'x') +
             L" 30 Application_Protection_Version 99 " + std::wstring(99, L'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(path);
        if (c.body) {
            std::ofstream(path) << "<HVKConfiguration>" << *c.body << "</HVKConfiguration>";
        }
        EXPECT_EQ(kHeader + c.reply, ok(1004));
    }
}

TEST_F(CommandImplTest, UnservedIdsGetNoReply)
{
    start();
    for (int id : {1010, 777, 60001}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(send(id, text(12345), std::chrono::milliseconds(500)).has_value());
    }
    EXPECT_EQ(kHeader + L" 0 0 60 1 0 0 0", ok(20004)) << "AllowAppleSignedApps forced off";
}

TEST_F(CommandImplTest, RuleCommands)
{
    const std::string folder = apps({"R", "D", "U"});
    const std::string F = folder + "/R";
    start();
    std::vector<BasicAppRecord> add{rule(F), rule("/nonexistent"), rule(F)};
    EXPECT_EQ(kHeader + L" 0 0 3 0 20000 20020 20014", ok(20000, text(add)));
    std::list<BasicAppRecord> rules;
    HVO::CommandResult holder;
    HVO::PayloadAccess::setInput(holder, ok(20003));
    holder.getCustomData(rules);
    ASSERT_EQ(1u, rules.size());
    EXPECT_EQ(F, rules.front().getAppPath());

    std::vector<BasicAppRecord> unstored{rule(folder + "/U")};
    EXPECT_EQ(kHeader + L" 0 0 1 0 20015", ok(20001, text(unstored)));
    std::vector<BasicAppRecord> empty;
    EXPECT_EQ(kHeader + L" 0 0 0 0", ok(20000, text(empty)));

    // Bundle B of two executables: one record per group, or both.
    const std::string B = dir / "B";
    std::filesystem::create_directory(B);
    std::filesystem::copy_file(folder + "/D", B + "/x");
    std::filesystem::copy_file(folder + "/U", B + "/y");
    std::vector<BasicAppRecord> group{rule(B + "/x", B)};
    EXPECT_EQ(kHeader + L" 0 0 1 0 20000", ok(20000, text(group)));
    auto count = [&](int id) {
        std::list<BasicAppRecord> got;
        HVO::CommandResult h;
        HVO::PayloadAccess::setInput(h, ok(id));
        h.getCustomData(got);
        return got.size();
    };
    EXPECT_EQ(2u, count(20003));
    EXPECT_EQ(3u, count(20008));

    // The health check persists what the commands changed.
    const std::string before = testfiles::readFile(dir / "profile.data");
    EXPECT_TRUE(hub().peer.deliverHealthCheck());
    EXPECT_NE(before, testfiles::readFile(dir / "profile.data"));
}

TEST_F(CommandImplTest, Preferences)
{
    start();
    EXPECT_EQ(kHeader + L" 20003", ok(20005, kHeader + L" 0 0 30 4 0 0 1"));
    EXPECT_EQ(30, m_config->getPromptTimeout());
    EXPECT_EQ(1, m_config->getUnknownAppAction());
    EXPECT_EQ(1, m_config->getCustomNwFallbackOption());
    EXPECT_EQ(kHeader + L" 0 0 30 1 0 0 1", ok(20004));
    EXPECT_EQ(kHeader + L" 20000", ok(20005, kHeader + L" 0 0 45 2 0 0 0"));
    EXPECT_EQ(0, m_config->getCustomNwFallbackOption()) << "false writes 0";

    // A payload that cannot be read: a failure reply, nothing stored.
    const int writes = m_store->writes();
    for (const std::wstring& payload : {std::wstring(L"garbage"), kHeader + L" 0 0 30", std::wstring()}) {
        auto reply = send(20005, payload);
        ASSERT_TRUE(reply.has_value());
        EXPECT_FALSE(reply->status);
        EXPECT_FALSE(reply->completed);
        EXPECT_FALSE(reply->hasData);
        EXPECT_EQ(20005, reply->header.getCommandId());
    }
    EXPECT_EQ(writes, m_store->writes());

    m_store->failWrites(settingstoretest::MemoryPreferences::Failure::Refuse);
    EXPECT_EQ(kHeader + L" 20022", ok(20005, kHeader + L" 0 0 30 1 0 0 1"));
    m_store->failWrites(settingstoretest::MemoryPreferences::Failure::ThrowOther);
    EXPECT_EQ(kHeader + L" 20001", ok(20005, kHeader + L" 0 0 30 1 0 0 1"));
}

TEST_F(CommandImplTest, SetPrefsDisablesProtectionAndAnswersPendingAlerts)
{
    const std::string folder = apps({"U"});
    m_store->put(kDomain, "EnableAppProtection", PrefBoolean::get(true));
    putInt("UnknownAppAction", 3);
    start();
    controller->enableAppProtection();
    ScanRequest r = request(4242, 100, 77, folder + "/U");
    AppProtection::AlertManager::getInstance()->sendAlert(r);
    EXPECT_EQ(kHeader + L" 20000", ok(20005, kHeader + L" 0 0 60 3 0 0 0"));
    EXPECT_EQ(0, controller->getProtectionStatus());
    int answered = 0;
    for (const auto& o : fake->options())
        if (o.option == kctl::KEXT_OPT_RESPONSE) {
            ScanRequest a;
            std::memcpy(&a, o.payload.data() + kctl::answer::kRecord, sizeof a);
            answered += a.cookie == 77 && a.result == 1;
        }
    EXPECT_EQ(1, answered);
}

TEST_F(CommandImplTest, ListsAndExclusionPush)
{
    start();
    std::vector<std::string> list{"/opt/a"};
    EXPECT_EQ(kHeader + L" 20000", ok(20007, text(list)));
    EXPECT_EQ(kHeader + L" 0 0 1 0 6 /opt/a", ok(20006));
    EXPECT_TRUE(fake->options().empty()) << "not pushed while protection is off";

    m_store->put(kDomain, "EnableAppProtection", PrefBoolean::get(true));
    controller->enableAppProtection();
    const size_t before = fake->options().size();
    std::vector<std::string> two{"/opt/b", "/opt/c"};
    EXPECT_EQ(kHeader + L" 20000", ok(20007, text(two)));
    std::vector<int> pushed;
    auto options = fake->options();
    for (size_t i = before; i < options.size(); ++i)
        if (options[i].option == 7 || options[i].option == 8)
            pushed.push_back(options[i].option);
    EXPECT_EQ((std::vector<int>{7, 8, 8}), pushed);

    // The kernel refuses the flush: the list stays stored, the reply is the
    // store's.
    fake->failOption(7, EINVAL);
    std::vector<std::string> three{"/opt/d"};
    EXPECT_EQ(kHeader + L" 20000", ok(20007, text(three)));
    EXPECT_EQ(kHeader + L" 0 0 1 0 6 /opt/d", ok(20006));

    const size_t beforeFolders = fake->options().size();
    std::vector<std::string> folders{"/Applications/x"};
    EXPECT_EQ(kHeader + L" 20000", ok(20010, text(folders)));
    EXPECT_EQ(kHeader + L" 0 0 1 0 15 /Applications/x", ok(20009));
    for (size_t i = beforeFolders; i < fake->options().size(); ++i)
        EXPECT_NE(9, fake->options()[i].option) << "no option 9";
    controller->disableAppProtection();
}

} // namespace
