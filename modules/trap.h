// The trap of a procedure that reports its failures and carries on.
//
// A trapping procedure runs its statements in order, each through Run(). When a statement fails,
// the failure is reported to the common library's error handler (with the application-properties
// object, an error object describing the failure, and the source "<module code>.<procedure>") and
// the procedure resumes with the next statement. The trap stays armed for the rest of the body.
//
// A failure while handling a failure (the report itself cannot be made, or there is no memory to
// describe the first one) is not trapped again: the procedure is over, the statements after it do
// not run, and Result() hands that second failure to the procedure's caller.
//
// Each statement runs under the module's guard (rt::Guarded): running out of memory in one is a
// failure like any other (error 7), trapped and reported.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "runtime/errors.h"

class Trap {
public:
    // Both names are kept as views (nothing is allocated until a failure is reported), so they must
    // outlive the trap: the callers pass string literals and the modules' identity constants.
    Trap(std::wstring_view identityCode, std::wstring_view procedure)
        : identityCode_(identityCode), procedure_(procedure) {}
    Trap(const Trap &) = delete;
    Trap &operator=(const Trap &) = delete;

    // Runs one statement (a callable returning HRESULT). True when it ran and succeeded.
    template <class Statement>
    bool Run(Statement &&statement) noexcept {
        if (ended_) return false;
        const HRESULT hr = rt::Guarded(std::forward<Statement>(statement));
        if (SUCCEEDED(hr)) return true;
        Handle(hr);
        return false;
    }

    // What the procedure returns: S_OK, or the failure that ended it, with its error information.
    HRESULT Result() const noexcept { return ended_ ? escaped_.Restore() : S_OK; }

    // The error source string of this procedure.
    std::wstring Source() const {
        std::wstring source;
        source.reserve(identityCode_.size() + 1 + procedure_.size());
        return source.append(identityCode_).append(1, L'.').append(procedure_);
    }

private:
    // Reports the failure hr (the thread's error information describes it).
    void Handle(HRESULT hr) noexcept;

    std::wstring_view identityCode_;
    std::wstring_view procedure_;
    bool ended_ = false;
    rt::KeptFailure escaped_; // set when ended_ is
};
