// hvod and fwservice --record as processes, the ipfw stand-in first on PATH,
// for tests inside tests/ns-run.sh; and the kernel list read from rules.bin
// by a python script of its own. Include once per test program.
#pragma once

#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "HVOCommBroker.h"
#include "ProcessSupport.h"

namespace fwrun {

using proc::Child;

const std::string kSocket = "/usr/local/Vantrel/hvo/var/hvodsocket";
const std::string kLog = "/usr/local/Vantrel/hvo/var/hvod.jsonl";
const std::string kState = "/usr/local/Vantrel/Firewall/var/FWServiceState";
const std::string kRuleFile = "/usr/local/Vantrel/Firewall/var/QyvRules";
const std::string kRulesBin = "/usr/local/Vantrel/ipfw/rules.bin";
const std::string kSysctl = "/usr/local/Vantrel/ipfw/sysctl/";

std::unique_ptr<wardtest::TempDir> g_tmp;
std::unique_ptr<Child> g_hub;
std::unique_ptr<Child> g_service;
std::string g_record;

bool registered(int id)
{
    std::string m = "\n" + proc::run({HVOCTL_PATH, "modules"});
    return m.find("\n" + std::to_string(id) + " ") != std::string::npos;
}

void startService()
{
    g_service = std::make_unique<Child>(std::vector<std::string>{FWSERVICE_PATH, "--record", g_record});
    ASSERT_TRUE(proc::waitFor([] { return registered(4); }, 10));
}

/// Stops the service with SIGTERM: it must end by itself, with status 0.
void stopService()
{
    if (!g_service)
        return;
    g_service->signal(SIGTERM);
    EXPECT_EQ(0, g_service->wait(10));
    g_service.reset();
    proc::waitFor([] { return !registered(4); }, 5);
}

/// A fresh machine: no rules, no options, no kernel list.
void freshService()
{
    stopService();
    for (const std::string& f : {kState, kState + ".corrupt", kRuleFile, kRulesBin})
        ::unlink(f.c_str());
    wardtest::writeFile(g_record, "");
    startService();
}

class ServiceEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        g_tmp = std::make_unique<wardtest::TempDir>("fwservice");
        std::string bin = *g_tmp / "bin";
        ::mkdir(bin.c_str(), 0755);
        ASSERT_EQ(0, ::symlink(IPFW_PATH, (bin + "/ipfw").c_str()));
        std::string path = bin + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
        ::setenv("PATH", path.c_str(), 1);
        g_record = *g_tmp / "record.jsonl";
        g_hub = std::make_unique<Child>(std::vector<std::string>{HVOD_PATH, "--log", kLog, "--health-interval", "0"});
        int rc = -1;
        proc::run({HVOCTL_PATH, "ping", "--wait", "5"}, &rc);
        ASSERT_EQ(0, rc);
    }
    void TearDown() override
    {
        HVO::HVOCommBroker::releaseInstance();
        stopService();
        g_hub.reset();
        g_tmp.reset();
    }
};

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ServiceEnvironment);

/// The kernel list as "NUMBER ACTION PORTS" lines, decoded by python.
std::string kernelList()
{
    return proc::run({"/usr/bin/python3", KERNEL_LIST_PY, kRulesBin});
}

} // namespace fwrun
