#pragma once

#include <string>
#include <utility>

// Outcome of one step of the tool: success, or a failure with a one-line
// reason that main prints on standard error.
class [[nodiscard]] Status
{
public:
    static Status success() { return Status(); }
    static Status failure(std::string reason) { return Status(std::move(reason)); }

    bool ok() const { return !failed_; }
    const std::string &reason() const { return reason_; }

private:
    Status() = default;
    explicit Status(std::string reason) : failed_(true), reason_(std::move(reason)) {}

    bool failed_ = false;
    std::string reason_;
};

// "what: strerror(errno)" for a failed system call.
Status systemFailure(const std::string &what, int errnoValue);
