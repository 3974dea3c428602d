// What the reliability tests share: sizes taken from the environment, the process's private memory
// and handle count, objects of the test's own whose references can be counted, the component's
// classes and members as its type library describes them, the atom tables' contents, and the
// component's DllCanUnloadNow as the loaded module exports it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/client.h"

namespace reliability {

using rt::Bstr;
using rt::ComPtr;
using rt::Variant;
using testing_support::CountedObject;

// A count from the environment: the first of `names` that is set, else `fallback`.
// Digits only, with optional '_' separators (1_000_000).
long long EnvCount(std::initializer_list<const wchar_t *> names, long long fallback);
// Seeds: a decimal or 0x… number from the environment, else `fallback`.
uint64_t EnvSeed(const wchar_t *name, uint64_t fallback);

// Private memory of the process (PagefileUsage: Wine 8 reports PrivateUsage as 0; on Windows the
// two are the same figure).
SIZE_T PrivateBytes();
// Handles the process holds, counted in the system's handle table (Wine 8 answers
// GetProcessHandleCount with 0). -1 when the table cannot be read.
long HandleCount();

// One parameter of a member as the type library describes it.
struct ParamInfo {
    VARTYPE type = VT_EMPTY; // VT_I2, VT_I4, VT_BSTR, VT_VARIANT, VT_DISPATCH, ... (enums read as VT_I4)
    bool byRef = false;
    bool optional = false;
};

struct MemberInfo {
    std::wstring name;
    DISPID id = DISPID_UNKNOWN;
    INVOKEKIND kind = INVOKE_FUNC;
    std::vector<ParamInfo> params; // without the result
    VARTYPE result = VT_EMPTY;     // the [out, retval] type; VT_EMPTY when there is none
    ULONG_PTR vtableOffset = 0;    // of the member in its dual interface
};

struct ClassInfo {
    std::wstring name;
    CLSID clsid{};
    bool creatable = false;
    std::wstring progId; // registered ProgID, empty when none
    std::vector<MemberInfo> members;
    // Every identifier the dispatch face lists, those of the inherited IUnknown and IDispatch
    // methods included (GetIDsOfNames knows them; Invoke does not call them).
    std::vector<DISPID> dispatchIds;
};

// The coclasses of the component's type library (read from the DLL itself) with the members of
// their default interfaces, in type-library order.
std::vector<ClassInfo> ReadClasses();

// The members of an object's own dual interface, from the type information it hands out.
std::vector<MemberInfo> MembersOf(IDispatch *object);

// The component's DllCanUnloadNow, from the module COM loaded. Null while it is not loaded.
using CanUnloadNowFn = HRESULT(WINAPI *)();
CanUnloadNowFn ComponentCanUnloadNow();

// Every string atom of a table (0xC000..0xFFFF) with its name: what exists, not how often it was
// added.
using AtomTable = std::map<ATOM, std::wstring>;
AtomTable GlobalAtoms();
// The differences between two tables, for messages.
std::string AtomDiff(const AtomTable &before, const AtomTable &after);

std::string Narrow(std::wstring_view text);
std::string Hex(unsigned long long value);

// A file of the build tree the common library journals to (QXBEDROCK10_LOG), empty at the start.
// Its lines, and deleting it, for the tests that count what reached the library.
class Journal {
public:
    explicit Journal(const std::wstring &name);
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;
    ~Journal();
    std::vector<std::wstring> Lines() const;
    const std::wstring &Path() const { return path_; }

private:
    std::wstring path_;
    std::wstring previous_;
    bool hadPrevious_ = false;
};

} // namespace reliability
