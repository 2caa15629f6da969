#pragma once
// An environment variable set for the length of a scope, and put back as it
// was (set or not) when the scope ends, however the test leaves it.

#include <cstdlib>
#include <optional>
#include <string>

namespace sorvane::test {

class ScopedEnv {
public:
    explicit ScopedEnv(const char* name) : name_(name) {
        if (const char* value = std::getenv(name))
            kept_ = value;
    }
    ScopedEnv(const char* name, const char* value) : ScopedEnv(name) { Set(value); }
    ~ScopedEnv() { Set(kept_ ? kept_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    /// Sets the variable to `value`, or unsets it for null.
    void Set(const char* value) const {
        if (value != nullptr)
            ::setenv(name_.c_str(), value, 1);
        else
            ::unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::optional<std::string> kept_;
};

} // namespace sorvane::test
