// The agent stand-in: it records what the product registered, runs every
// service and log call on one thread of its own in arrival order, and serves
// a root-only control socket through which agentctl plays the console.
#include "HvoAgent.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "AgentControl.h"
#include "AgentWire.h"

namespace HVOEnterprise {

using agentwire::Outcome;
using agentwire::ServiceState;

namespace {

/// Connections served at once; more are closed at once.
constexpr size_t kMaxConnections = 32;
/// A peer that does not read its answers cannot hold a thread longer.
constexpr int kSendTimeoutSeconds = 5;

std::mutex g_instanceMutex;
HvoAgent* g_instance = nullptr;                        ///< guarded by g_instanceMutex
control::Failure g_failure = control::Failure::FROM_ENV; ///< guarded by g_instanceMutex
std::string g_socketPath = agentwire::kSocketPath;     ///< guarded by g_instanceMutex

/// The agent's threads take no asynchronous signal: the product handles its
/// signals on a thread of its own, and a thread that left one unblocked
/// would take its default action.
void blockAsyncSignals()
{
    sigset_t set;
    sigfillset(&set);
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS})
        sigdelset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

control::Failure failureFromEnv()
{
    const char* v = std::getenv("AGENTBRIDGE_FAIL");
    if (v == nullptr)
        return control::Failure::NONE;
    const std::string s(v);
    if (s == "create")
        return control::Failure::CREATE;
    if (s == "property")
        return control::Failure::PROPERTY;
    if (s == "policy")
        return control::Failure::POLICY;
    if (s == "throw")
        return control::Failure::THROW;
    return control::Failure::NONE;
}

bool accessStringWellFormed(const std::string& s)
{
    if (s.size() != 64)
        return false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (i < 6 ? !(c >= 'a' && c <= 'z') : !(c >= '0' && c <= '9'))
            return false;
    }
    return true;
}

/// One call into the product, shared by its caller and the agent's thread.
struct Call {
    std::function<control::Result()> run;
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false; ///< guarded by mutex
    control::Result result;

    void finish(control::Result r)
    {
        std::lock_guard<std::mutex> lock(mutex);
        result = std::move(r);
        done = true;
        cv.notify_all();
    }
};

} // namespace

class HvoAgent::Impl {
public:
    Impl(const std::string& software, const std::string& agent, const std::string& pid, const std::string& access,
         const std::wstring& logDir, AgentLogCallback callback, control::Failure failure)
        : softwareId(software), agentId(agent), processId(pid), accessString(access), logDirectory(logDir),
          logCallback(callback), failure(failure)
    {
    }

    /// Starts the agent's thread and, with a path, the control socket. False
    /// when another live agent holds the socket or it cannot be made.
    bool start(const std::string& socketPath);
    void shutdown();

    /// Queues `fn` for the agent's thread and waits for its result.
    control::Result call(std::function<control::Result()> fn);
    /// Queues `fn` without waiting.
    void post(std::function<control::Result()> fn);

    control::Status status();
    control::Result enforcePolicy(const std::wstring& name, const SectionsHandle& sections);
    control::Result collectProperties(bool all, SectionsHandle& sections);
    control::Result log(AgentLogCategory category, const std::wstring& text);
    control::Counts counts();

    // Recorded at creation; read-only after.
    const std::string softwareId;
    const std::string agentId;
    const std::string processId;
    const std::string accessString;
    const std::wstring logDirectory;
    const AgentLogCallback logCallback;
    const control::Failure failure;

    std::mutex mutex;
    IHvoAgentPropertyCollection* property = nullptr;      ///< guarded by mutex
    IHvoAgentPolicyEnforcement* policy = nullptr;         ///< guarded by mutex
    ServiceState propertyState = agentwire::NEVER_OFFERED; ///< guarded by mutex
    ServiceState policyState = agentwire::NEVER_OFFERED;   ///< guarded by mutex
    control::Counts pluginCounts;                          ///< guarded by mutex

private:
    bool enqueue(const std::shared_ptr<Call>& c);
    void runWorker();
    bool listenOn(const std::string& path);
    void runAcceptor();
    void serve(int fd);
    /// False when the request was not understood: the connection closes.
    bool answer(int fd, const std::vector<uint8_t>& body);
    void reapConnectionsLocked();

    std::deque<std::shared_ptr<Call>> m_queue; ///< guarded by mutex
    bool m_closed = false;                     ///< guarded by mutex
    std::condition_variable m_queueCv;
    std::thread m_worker;

    std::string m_socketPath;
    ino_t m_socketIno = 0;
    dev_t m_socketDev = 0;
    int m_listenFd = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_acceptor;

    struct Connection {
        int fd;
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex m_connMutex;
    std::vector<Connection> m_connections; ///< guarded by m_connMutex
};

// ---------------------------------------------------------------------------
// Calls on the agent's thread

bool HvoAgent::Impl::enqueue(const std::shared_ptr<Call>& c)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (m_closed)
        return false;
    m_queue.push_back(c);
    m_queueCv.notify_one();
    return true;
}

control::Result HvoAgent::Impl::call(std::function<control::Result()> fn)
{
    auto c = std::make_shared<Call>();
    c->run = std::move(fn);
    if (!enqueue(c))
        return {agentwire::OUT_NO_SERVICE, "agent released"};
    std::unique_lock<std::mutex> lock(c->mutex);
    c->cv.wait(lock, [&] { return c->done; });
    return c->result;
}

void HvoAgent::Impl::post(std::function<control::Result()> fn)
{
    auto c = std::make_shared<Call>();
    c->run = std::move(fn);
    enqueue(c);
}

void HvoAgent::Impl::runWorker()
{
    blockAsyncSignals();
    for (;;) {
        std::shared_ptr<Call> c;
        {
            std::unique_lock<std::mutex> lock(mutex);
            m_queueCv.wait(lock, [&] { return m_closed || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            c = m_queue.front();
            m_queue.pop_front();
        }
        control::Result r;
        try {
            r = c->run();
        } catch (const std::exception& e) {
            r = {agentwire::OUT_THREW, e.what()};
        } catch (...) {
            r = {agentwire::OUT_THREW, "unknown exception"};
        }
        c->finish(std::move(r));
    }
}

control::Status HvoAgent::Impl::status()
{
    control::Status s;
    s.softwareId = softwareId;
    s.agentId = agentId;
    s.processId = processId;
    s.accessString = accessString;
    s.logDirectory = logDirectory;
    std::lock_guard<std::mutex> lock(mutex);
    s.property = propertyState;
    s.policy = policyState;
    return s;
}

control::Result HvoAgent::Impl::enforcePolicy(const std::wstring& name, const SectionsHandle& sections)
{
    return call([this, &name, &sections]() -> control::Result {
        IHvoAgentPolicyEnforcement* service;
        {
            std::lock_guard<std::mutex> lock(mutex);
            service = policy;
        }
        if (service == nullptr)
            return {agentwire::OUT_NO_SERVICE, "no policy-enforcement service"};
        return {service->enforcePolicy(name, sections) ? agentwire::OUT_TRUE : agentwire::OUT_FALSE, ""};
    });
}

control::Result HvoAgent::Impl::collectProperties(bool all, SectionsHandle& sections)
{
    return call([this, all, &sections]() -> control::Result {
        IHvoAgentPropertyCollection* service;
        {
            std::lock_guard<std::mutex> lock(mutex);
            service = property;
        }
        if (service == nullptr)
            return {agentwire::OUT_NO_SERVICE, "no property-collection service"};
        return {service->collectProperties(all, sections) ? agentwire::OUT_TRUE : agentwire::OUT_FALSE, ""};
    });
}

control::Result HvoAgent::Impl::log(AgentLogCategory category, const std::wstring& text)
{
    return call([this, category, &text]() -> control::Result {
        if (logCallback != nullptr)
            logCallback(category, text.c_str());
        return {agentwire::OUT_TRUE, ""};
    });
}

control::Counts HvoAgent::Impl::counts()
{
    std::lock_guard<std::mutex> lock(mutex);
    return pluginCounts;
}

// ---------------------------------------------------------------------------
// Start and shutdown

bool HvoAgent::Impl::start(const std::string& socketPath)
{
    m_worker = std::thread([this] { runWorker(); });
    if (socketPath.empty())
        return true;
    if (!listenOn(socketPath)) {
        shutdown();
        return false;
    }
    if (::pipe2(m_wake, O_CLOEXEC) != 0) {
        shutdown();
        return false;
    }
    m_acceptor = std::thread([this] { runAcceptor(); });
    return true;
}

bool HvoAgent::Impl::listenOn(const std::string& path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    // The folder as the framework lays it out.
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        std::string dir;
        size_t from = 1;
        for (;;) {
            const size_t next = path.find('/', from);
            if (next == std::string::npos || next > slash)
                break;
            dir = path.substr(0, next);
            ::mkdir(dir.c_str(), 0755);
            from = next + 1;
        }
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A live agent answers; a stale socket is replaced.
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        ::close(fd);
        return false;
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            ::close(fd);
            return false;
        }
        ::unlink(path.c_str());
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return false;
    }
    // Before listen: nobody connects in between.
    if (::chmod(path.c_str(), 0600) != 0 || ::lstat(path.c_str(), &st) != 0 || ::listen(fd, 16) != 0) {
        ::unlink(path.c_str());
        ::close(fd);
        return false;
    }
    m_socketPath = path;
    m_socketIno = st.st_ino;
    m_socketDev = st.st_dev;
    m_listenFd = fd;
    return true;
}

void HvoAgent::Impl::shutdown()
{
    // No new connection; the socket goes when it is still ours.
    if (m_acceptor.joinable()) {
        const char one = 1;
        (void)!::write(m_wake[1], &one, 1);
        m_acceptor.join();
    }
    if (m_listenFd >= 0) {
        struct stat st;
        if (::lstat(m_socketPath.c_str(), &st) == 0 && st.st_ino == m_socketIno && st.st_dev == m_socketDev)
            ::unlink(m_socketPath.c_str());
        ::close(m_listenFd);
        m_listenFd = -1;
    }
    for (int& fd : m_wake) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    // Calls still queued fail; the one in hand finishes.
    std::deque<std::shared_ptr<Call>> queued;
    {
        std::lock_guard<std::mutex> lock(mutex);
        m_closed = true;
        queued.swap(m_queue);
        m_queueCv.notify_all();
    }
    for (auto& c : queued)
        c->finish({agentwire::OUT_NO_SERVICE, "agent released"});
    if (m_worker.joinable())
        m_worker.join();
    // Every call is answered now; connections end at their next read.
    std::vector<Connection> connections;
    {
        std::lock_guard<std::mutex> lock(m_connMutex);
        for (Connection& c : m_connections)
            if (!c.done->load())
                ::shutdown(c.fd, SHUT_RD);
        connections.swap(m_connections);
    }
    // Joined without the lock: each closes its descriptor under it.
    for (Connection& c : connections)
        c.thread.join();
}

// ---------------------------------------------------------------------------
// Control socket

void HvoAgent::Impl::reapConnectionsLocked()
{
    // A thread marked done under the lock needs it no more.
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = m_connections.erase(it);
        } else {
            ++it;
        }
    }
}

void HvoAgent::Impl::runAcceptor()
{
    blockAsyncSignals();
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents == 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        // Root only: a policy changes the protection of the machine.
        ucred cred{};
        socklen_t len = sizeof cred;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != 0) {
            ::close(fd);
            continue;
        }
        timeval tv{kSendTimeoutSeconds, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        std::lock_guard<std::mutex> lock(m_connMutex);
        reapConnectionsLocked();
        if (m_connections.size() >= kMaxConnections) {
            ::close(fd);
            continue;
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        m_connections.push_back(Connection{fd, std::thread([this, fd, done] {
                                               blockAsyncSignals();
                                               serve(fd);
                                               // Closed under the lock: shutdown()
                                               // never touches a reused descriptor.
                                               std::lock_guard<std::mutex> l(m_connMutex);
                                               ::close(fd);
                                               done->store(true);
                                           }),
                                           done});
    }
}

void HvoAgent::Impl::serve(int fd)
{
    std::vector<uint8_t> body;
    while (agentwire::readFrame(fd, body) == agentwire::ReadResult::Frame) {
        if (!answer(fd, body))
            return;
    }
}

namespace {

void putServiceStates(agentwire::Writer& w, const control::Status& s)
{
    w.text(s.softwareId).text(s.agentId).text(s.processId).text(s.accessString).wtext(s.logDirectory);
    w.u8(s.property).u8(s.policy);
}

} // namespace

bool HvoAgent::Impl::answer(int fd, const std::vector<uint8_t>& body)
{
    agentwire::Reader in(body.data(), body.size());
    const uint8_t kind = in.u8();
    agentwire::Writer out(kind);
    switch (kind) {
    case agentwire::STATUS: {
        if (!in.atEnd())
            return false;
        putServiceStates(out, status());
        break;
    }
    case agentwire::POLICY: {
        const std::wstring name = in.wtext();
        const uint32_t n = in.u32();
        SectionsHandle sections;
        // Each entry takes at least its three counts.
        if (!in.ok() || n > body.size() / 12)
            return false;
        for (uint32_t i = 0; i < n; ++i) {
            const std::wstring section = in.wtext();
            const std::wstring key = in.wtext();
            const std::wstring value = in.wtext();
            if (!in.ok())
                return false;
            sections.insert(section, key, value);
        }
        if (!in.atEnd())
            return false;
        const control::Result r = enforcePolicy(name, sections);
        out.u8(r.outcome).text(r.message);
        break;
    }
    case agentwire::COLLECT: {
        const bool all = in.u8() != 0;
        if (!in.ok() || !in.atEnd())
            return false;
        SectionsHandle sections;
        const control::Result r = collectProperties(all, sections);
        out.u8(r.outcome).text(r.message).u32(static_cast<uint32_t>(sections.entries().size()));
        for (const SectionsHandle::Entry& e : sections.entries())
            out.wtext(e.section).wtext(e.key).wtext(e.value);
        break;
    }
    case agentwire::LOG: {
        const AgentLogCategory category = static_cast<AgentLogCategory>(static_cast<int32_t>(in.u32()));
        const std::wstring text = in.wtext();
        if (!in.ok() || !in.atEnd())
            return false;
        const control::Result r = log(category, text);
        out.u8(r.outcome).text(r.message);
        break;
    }
    case agentwire::COUNTS: {
        if (!in.atEnd())
            return false;
        const control::Counts c = counts();
        out.u32(c.reloads).u32(c.unloads);
        break;
    }
    default:
        return false;
    }
    return agentwire::sendAll(fd, out.finish());
}

// ---------------------------------------------------------------------------
// The product's side

std::string HvoAgentUtils::wstringToString(const std::wstring& text)
{
    return agentwire::toUtf8(text, '?');
}

bool SectionsHandle::getPropValue(const std::wstring& section, const std::wstring& key, std::wstring& value) const
{
    const auto it = m_index.find({section, key});
    if (it == m_index.end())
        return false;
    value = m_entries[it->second].value;
    return true;
}

bool SectionsHandle::insert(const std::wstring& section, const std::wstring& key, const std::wstring& value)
{
    if (section.empty() || key.empty())
        return false;
    const auto it = m_index.find({section, key});
    if (it != m_index.end()) {
        m_entries[it->second].value = value;
        return true;
    }
    m_index.emplace(std::make_pair(section, key), m_entries.size());
    m_entries.push_back(Entry{section, key, value});
    return true;
}

HvoAgent::HvoAgent(std::shared_ptr<Impl> impl) : m_impl(std::move(impl)) {}

HvoAgent::~HvoAgent() = default;

HvoAgent* HvoAgent::createInstance(const std::string& softwareId, const std::string& agentId,
                                   const std::string& processId, const std::string& accessString,
                                   const std::wstring& logDirectory, AgentLogCallback logCallback)
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (g_instance != nullptr)
        return nullptr;
    const control::Failure failure = g_failure == control::Failure::FROM_ENV ? failureFromEnv() : g_failure;
    if (failure == control::Failure::CREATE || !accessStringWellFormed(accessString))
        return nullptr;
    auto impl = std::make_shared<Impl>(softwareId, agentId, processId, accessString, logDirectory, logCallback,
                                       failure);
    if (!impl->start(g_socketPath))
        return nullptr;
    g_instance = new HvoAgent(impl);
    return g_instance;
}

HvoAgent* HvoAgent::getInstance()
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    return g_instance;
}

void HvoAgent::releaseInstance()
{
    HvoAgent* agent;
    {
        std::lock_guard<std::mutex> lock(g_instanceMutex);
        agent = g_instance;
        g_instance = nullptr;
    }
    if (agent == nullptr)
        return;
    agent->m_impl->shutdown();
    delete agent;
}

bool HvoAgent::registerPropertyCollectionService(IHvoAgentPropertyCollection* service)
{
    if (m_impl->failure == control::Failure::THROW)
        throw std::runtime_error("agentbridge: property-collection registration failed");
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (service == nullptr || m_impl->failure == control::Failure::PROPERTY) {
        m_impl->propertyState = agentwire::REFUSED;
        return false;
    }
    m_impl->property = service;
    m_impl->propertyState = agentwire::REGISTERED;
    return true;
}

bool HvoAgent::registerPolicyEnforcementService(IHvoAgentPolicyEnforcement* service)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (service == nullptr || m_impl->failure == control::Failure::POLICY) {
        m_impl->policyState = agentwire::REFUSED;
        return false;
    }
    m_impl->policy = service;
    m_impl->policyState = agentwire::REGISTERED;
    return true;
}

IHvoAgentPropertyCollection* HvoAgent::getPropertyCollectionInterface()
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->property;
}

IHvoAgentPolicyEnforcement* HvoAgent::getPolicyEnforcementInterface()
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->policy;
}

void HvoAgent::performPluginReload()
{
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        ++m_impl->pluginCounts.reloads;
    }
    Impl* impl = m_impl.get();
    impl->post([impl]() -> control::Result {
        if (impl->logCallback != nullptr)
            impl->logCallback(2, L"HvoAgent::performPluginReload - plug-ins reloaded");
        return {agentwire::OUT_TRUE, ""};
    });
}

void HvoAgent::performPluginUnload()
{
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        ++m_impl->pluginCounts.unloads;
    }
    Impl* impl = m_impl.get();
    impl->post([impl]() -> control::Result {
        if (impl->logCallback != nullptr)
            impl->logCallback(2, L"HvoAgent::performPluginUnload - plug-ins unloaded");
        return {agentwire::OUT_TRUE, ""};
    });
}

// ---------------------------------------------------------------------------
// In-process control

class HvoAgentAccess {
public:
    static std::shared_ptr<HvoAgent::Impl> current()
    {
        std::lock_guard<std::mutex> lock(g_instanceMutex);
        return g_instance != nullptr ? g_instance->m_impl : nullptr;
    }
};

namespace control {

namespace {

std::shared_ptr<HvoAgent::Impl> currentImpl()
{
    return HvoAgentAccess::current();
}

const Result kNoAgent{agentwire::OUT_NO_SERVICE, "no agent"};

} // namespace

bool status(Status& out)
{
    auto impl = currentImpl();
    if (!impl)
        return false;
    out = impl->status();
    return true;
}

Result enforcePolicy(const std::wstring& name, const SectionsHandle& sections)
{
    auto impl = currentImpl();
    return impl ? impl->enforcePolicy(name, sections) : kNoAgent;
}

Result collectProperties(bool collectAll, SectionsHandle& sections)
{
    auto impl = currentImpl();
    return impl ? impl->collectProperties(collectAll, sections) : kNoAgent;
}

Result log(AgentLogCategory category, const std::wstring& text)
{
    auto impl = currentImpl();
    return impl ? impl->log(category, text) : kNoAgent;
}

bool counts(Counts& out)
{
    auto impl = currentImpl();
    if (!impl)
        return false;
    out = impl->counts();
    return true;
}

void setFailure(Failure failure)
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    g_failure = failure;
}

void setSocketPath(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    g_socketPath = path;
}

} // namespace control
} // namespace HVOEnterprise
