// Where the daemon learns which processes run and which program each one
// runs. The default reads /proc; tests give their own.
#pragma once

#include <string>
#include <vector>

namespace AppProtection {

class ProcessSource {
public:
    virtual ~ProcessSource() = default;
    /// Ids of the processes running now, ascending.
    virtual std::vector<int> listPids() = 0;
    /// The program file the process runs, byte for byte; "" when it runs
    /// none (a kernel thread), is gone, or cannot be read.
    virtual std::string programPath(int pid) = 0;
};

/// The processes of /proc: ids from its numeric folders, programs from the
/// "exe" links (" (deleted)" taken off the path of a removed program).
class ProcProcessSource : public ProcessSource {
public:
    explicit ProcProcessSource(std::string procRoot = "/proc");
    std::vector<int> listPids() override;
    std::string programPath(int pid) override;

private:
    const std::string m_procRoot;
};

} // namespace AppProtection
