// The code-signature check: whether a program satisfies the requirement
// "anchor apple". The default runs the codesign tool; tests give their own.
#pragma once

#include <string>

namespace AppProtection {

class CodeSignChecker {
public:
    virtual ~CodeSignChecker() = default;
    /// Whether the check can run at all (the tool is installed).
    virtual bool available() = 0;
    /// True when the program is Apple-signed; false when it is not, or the
    /// check cannot run. May take a while; called with no lock held.
    virtual bool isAppleSigned(const std::string& path) = 0;
};

/// Runs {tool, "-v", "-R=anchor apple", path} as a child, with no shell in
/// between (the path reaches the tool as one argument whatever it holds) and
/// standard input, output and error on /dev/null. Exit status 0 is
/// Apple-signed.
class CodesignToolChecker : public CodeSignChecker {
public:
    explicit CodesignToolChecker(std::string tool = "/usr/bin/codesign");
    bool available() override;
    bool isAppleSigned(const std::string& path) override;

private:
    const std::string m_tool;
};

} // namespace AppProtection
