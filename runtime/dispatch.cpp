// IDispatch from the type library (dispatch.h).
//
// Why the component binds the caller's arguments itself instead of handing the call to
// ITypeInfo::Invoke (DispInvoke), as most automation servers do: under Wine 8, the platform's
// dispatcher was measured to
//   - refuse a script's variable passed by reference (VT_BYREF|VT_VARIANT) for a short* or BSTR*
//     parameter with a type mismatch, where VBScript passes every variable that way;
//   - hand an omitted optional parameter to the member as a pointer to a VT_ERROR variant (which a
//     short* parameter reads as 10) instead of a null pointer;
//   - given one extra argument for a property get on an object-valued property that holds Nothing,
//     go on to invoke the null object (the client's process crashes);
//   - leak an object passed by value in a call it refuses with DISP_E_BADPARAMCOUNT.
// So Invoke binds in phases of its own (BoundCall below), each a function: route the caller's
// arguments to the parameters, bind each to what the member takes, prepare the result's slot, call
// the member through the vtable, write in-out values back into the caller's variables, and turn a
// failure into exception information. A first phase, the direct route (CallersStorage below), takes
// the calls whose arguments already are the parameters' own storage, as early-bound callers and
// script variables pass them: those need none of the other phases.
#include "dispatch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "errors.h"
#include "module.h"
#include "decimal.h"

namespace rt {
namespace {

constexpr VARTYPE kNoResult = VT_EMPTY;

// The start of a VARIANT's value: every member of its union lives there.
void *Payload(VARIANT *v) { return &V_I2(v); }

bool IsMissing(const VARIANTARG *arg) {
    return V_VT(arg) == VT_ERROR && V_ERROR(arg) == DISP_E_PARAMNOTFOUND;
}

// The missing marker that an omitted optional variant parameter receives.
void SetMissing(VARIANT *v) {
    V_VT(v) = VT_ERROR;
    V_ERROR(v) = DISP_E_PARAMNOTFOUND;
}

// Whether a value is, or leads through variables (VT_BYREF|VT_VARIANT) to, a reference whose
// pointer is null.
bool PointsNowhere(const VARIANTARG *arg) {
    for (int depth = 0; depth < 8 && (V_VT(arg) & VT_BYREF); ++depth) {
        if (!V_BYREF(arg)) return true;
        if (V_VT(arg) != (VT_BYREF | VT_VARIANT)) return false;
        arg = V_VARIANTREF(arg);
    }
    return false;
}

bool IsObjectType(VARTYPE vt) { return vt == VT_DISPATCH || vt == VT_UNKNOWN; }

// A DECIMAL that no value can be: a scale beyond 28, or sign bits besides the sign's own. The
// automation library's conversions refuse it, except (under Wine) the one to a string, which reads
// beyond the digits.
bool IsMalformedDecimal(const VARIANT *v) {
    return V_VT(v) == VT_DECIMAL && (V_DECIMAL(v).scale > 28 || (V_DECIMAL(v).sign & ~DECIMAL_NEG) != 0);
}

// A floating-point value that is not a number has no integer, currency or decimal value. The
// automation library lets it through every range check and then converts it to whatever the
// processor's conversion yields (a different number in the 32-bit and the 64-bit library): it is an
// overflow instead.
bool IsNaNForExactType(const VARIANT *v, VARTYPE type) {
    switch (type) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8: case VT_UI8:
    case VT_INT: case VT_UINT: case VT_CY: case VT_DECIMAL: break;
    default: return false;
    }
    switch (V_VT(v)) {
    case VT_R4: return std::isnan(V_R4(v));
    case VT_R8: return std::isnan(V_R8(v));
    case VT_DATE: return std::isnan(V_DATE(v));
    default: return false;
    }
}

// Converts any value to an object reference: objects as they are (asked for IDispatch if need
// be), Empty and Null as no object.
HRESULT ToObject(const VARIANTARG *arg, VARTYPE type, Variant &out) {
    Variant value;
    // A value that cannot even be copied (a variable holding a variable, for one) is no object.
    HRESULT hr = VariantCopyInd(value.Get(), const_cast<VARIANTARG *>(arg));
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
    if (value.Type() == VT_EMPTY || value.Type() == VT_NULL) {
        V_VT(out.Receive()) = type;
        V_UNKNOWN(out.Get()) = nullptr;
        return S_OK;
    }
    if (!IsObjectType(value.Type())) return DISP_E_TYPEMISMATCH;
    IUnknown *object = V_UNKNOWN(value.Get());
    V_VT(out.Receive()) = type;
    V_UNKNOWN(out.Get()) = nullptr;
    if (!object) return S_OK;
    if (type == VT_UNKNOWN) {
        object->AddRef();
        V_UNKNOWN(out.Get()) = object;
        return S_OK;
    }
    if (value.Type() == VT_DISPATCH) {
        object->AddRef();
        V_DISPATCH(out.Get()) = V_DISPATCH(value.Get());
        return S_OK;
    }
    hr = object->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&V_DISPATCH(out.Get())));
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
    return S_OK;
}

// Coerces a caller's value to the parameter's type into a fresh temporary.
HRESULT Coerce(const VARIANTARG *arg, VARTYPE type, Variant &out) {
    if (IsObjectType(type)) return ToObject(arg, type, out);
    if (type == VT_VARIANT) {
        const HRESULT hr = VariantCopyInd(out.Receive(), const_cast<VARIANTARG *>(arg));
        if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
        return S_OK;
    }
    return ChangeType(arg, type, out);
}

// Stores a value into a caller's by-reference slot of type `type` (VT_BYREF stripped), converting
// it to that type and freeing what the slot held. A value the slot's type cannot hold leaves the
// slot as it was; E_OUTOFMEMORY when the conversion ran out of memory (the slot left as well).
HRESULT StoreByRef(VARTYPE type, void *slot, VARIANT *value) {
    if (!slot) return S_OK;
    if (type == VT_VARIANT) {
        VARIANT *target = static_cast<VARIANT *>(slot);
        VariantClear(target);
        *target = *value;
        VariantInit(value);
        return S_OK;
    }
    Variant converted;
    const HRESULT hr = VariantChangeType(converted.Get(), value, 0, type);
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : S_OK;
    VARIANT *src = converted.Get();
    switch (type) {
    case VT_I1: case VT_UI1: *static_cast<BYTE *>(slot) = V_UI1(src); break;
    case VT_I2: case VT_UI2: case VT_BOOL: *static_cast<USHORT *>(slot) = V_UI2(src); break;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: case VT_R4:
        *static_cast<ULONG *>(slot) = V_UI4(src);
        break;
    case VT_I8: case VT_UI8: case VT_R8: case VT_DATE: case VT_CY:
        *static_cast<ULONGLONG *>(slot) = V_UI8(src);
        break;
    case VT_BSTR:
        SysFreeString(*static_cast<BSTR *>(slot));
        *static_cast<BSTR *>(slot) = V_BSTR(src);
        V_VT(src) = VT_EMPTY;
        break;
    case VT_DISPATCH: case VT_UNKNOWN:
        if (IUnknown *old = *static_cast<IUnknown **>(slot)) old->Release();
        *static_cast<IUnknown **>(slot) = V_UNKNOWN(src);
        V_VT(src) = VT_EMPTY;
        break;
    default: break;
    }
    return S_OK;
}

// What the binder keeps for one parameter during a call.
struct Binding {
    Variant temp;                 // the coerced value, when the member does not get the caller's own
    VARIANT *variableBack = nullptr; // a script variable (VT_BYREF|VT_VARIANT) to write back into
    VARTYPE slotType = VT_EMPTY;  // a typed by-reference slot of the caller to write back into
    void *slot = nullptr;
    VARIANTARG call;              // the argument as the vtable call receives it...
    bool variantByValue = false;  // ...except a variant by value, which is passed as temp itself
    Binding() { VariantInit(&call); }
};

// n elements (value-initialised): inside the object for the usual counts, on the heap beyond, so
// that a call with few arguments allocates nothing.
template <class T, size_t Inline>
class SmallArray {
public:
    explicit SmallArray(size_t n)
        : size_(n), data_(n <= Inline ? reinterpret_cast<T *>(storage_) : static_cast<T *>(::operator new(n * sizeof(T)))) {
        for (size_t i = 0; i < n; ++i) new (data_ + i) T();
    }
    SmallArray(const SmallArray &) = delete;
    SmallArray &operator=(const SmallArray &) = delete;
    ~SmallArray() {
        for (size_t i = 0; i < size_; ++i) data_[i].~T();
        if (data_ != reinterpret_cast<T *>(storage_)) ::operator delete(data_);
    }
    T &operator[](size_t i) { return data_[i]; }
    T *data() { return data_; }
    size_t size() const { return size_; }

private:
    alignas(T) unsigned char storage_[Inline * sizeof(T)];
    size_t size_;
    T *data_;
};

// The most arguments (with the result) that a member is called with directly; more go through
// DispCallFunc.
constexpr size_t kDirectSlots = DispatchInterface::Member::kDirectSlots;

// Whether DispCallFunc passes an argument of this type in one integer slot of the stack or a
// register: references, and integers, strings and interface pointers by value. A member whose
// arguments are all of these kinds is called directly, with each argument's slot exactly as
// DispCallFunc fills it; any other kind (VARIANT, DECIMAL and floating-point values, 8-byte
// integers) takes DispCallFunc itself.
bool TakesOneSlot(VARTYPE vt) {
    if (vt & VT_BYREF) return true;
    switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_BOOL: case VT_I4: case VT_UI4: case VT_INT:
    case VT_UINT: case VT_ERROR: case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN:
        return true;
    default:
        return false;
    }
}

// The slot DispCallFunc makes of such an argument: VT_BOOL sign-extended, anything else the
// leading bytes of the value as they are.
ULONG_PTR SlotOf(VARTYPE vt, const VARIANTARG *arg) {
    if (vt == VT_BOOL) return static_cast<ULONG_PTR>(static_cast<LONG_PTR>(V_BOOL(arg)));
    ULONG_PTR slot;
    std::memcpy(&slot, &V_UI1(arg), sizeof slot);
    return slot;
}

// Calls the member at `offset` of the object's vtable, as DispCallFunc does with CC_STDCALL and
// an HRESULT result, for up to kDirectSlots one-slot arguments.
inline __attribute__((always_inline)) HRESULT CallDirect(void *object, ULONG_PTR offset, size_t count,
                                                         const ULONG_PTR *s) {
    using S = ULONG_PTR;
    void *entry = (*static_cast<void ***>(object))[offset / sizeof(void *)];
#if defined(__x86_64__)
    // The x64 calling convention lets a caller pass more arguments than the callee takes (the caller
    // owns the stack they are on, and the callee never reads past its own): one call serves every
    // count, with the slots past `count` as they are.
    (void)count;
    return reinterpret_cast<HRESULT(STDMETHODCALLTYPE *)(void *, S, S, S, S, S, S, S, S)>(entry)(
        object, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7]);
#else
    // (A 32-bit callee takes its own arguments off the stack: it gets exactly its count.)
    switch (count) {
    case 0: return reinterpret_cast<HRESULT(STDMETHODCALLTYPE *)(void *)>(entry)(object);
    case 1: return reinterpret_cast<HRESULT(STDMETHODCALLTYPE *)(void *, S)>(entry)(object, s[0]);
    case 2: return reinterpret_cast<HRESULT(STDMETHODCALLTYPE *)(void *, S, S)>(entry)(object, s[0], s[1]);
    case 3:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE *)(void *, S, S, S)>(entry)(object, s[0], s[1], s[2]);
    case 4:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE *)(void *, S, S, S, S)>(entry)(object, s[0], s[1], s[2],
                                                                                        s[3]);
    case 5:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE *)(void *, S, S, S, S, S)>(entry)(object, s[0], s[1], s[2],
                                                                                           s[3], s[4]);
    case 6:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE *)(void *, S, S, S, S, S, S)>(entry)(
            object, s[0], s[1], s[2], s[3], s[4], s[5]);
    case 7:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE *)(void *, S, S, S, S, S, S, S)>(entry)(
            object, s[0], s[1], s[2], s[3], s[4], s[5], s[6]);
    default:
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE *)(void *, S, S, S, S, S, S, S, S)>(entry)(
            object, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7]);
    }
#endif
}

// The arguments of a direct call. Where CallDirect passes every slot whatever the count (x64), all
// of them hold a value; elsewhere only the member's own are filled (and read).
struct DirectSlots {
#if defined(__x86_64__)
    ULONG_PTR slot[kDirectSlots] = {};
#else
    ULONG_PTR slot[kDirectSlots];
#endif
    ULONG_PTR &operator[](size_t i) { return slot[i]; }
    operator const ULONG_PTR *() const { return slot; }
};


// The direct route. A member whose parameters are all references to plain values (not VARIANTs,
// whose variables the binder looks into first, nor objects) receives the caller's own storage whenever
// each argument is
//   - a reference of exactly the parameter's type (VT_BYREF|VT_I2 for a short*, ...), not null;
//   - a script variable (VT_BYREF|VT_VARIANT) holding a value of the parameter's type, or a
//     reference of that type that is not null;
//   - an omitted optional parameter (not passed, or the missing marker): a null pointer;
// and no argument is named. That is exactly what the binder's phases would hand the member for
// such arguments, with nothing to convert, copy or write back; so the member is called straight
// away, and its result lands in a value of the result's type. Any other call takes the phases.
// The object takes no reference on itself for the call: such a member is given no object, so
// nothing it is given can hold the last reference to it, and the caller's own reference keeps it
// alive, as every caller must.
class CallersStorage {
public:
    using Member = DispatchInterface::Member;

    // Binds every argument, or none (false: the call is not one for the direct route).
    bool Bind(const Member &member, const DISPPARAMS &params) {
        if (!member.direct || params.cNamedArgs != 0) return false;
        const UINT count = member.paramCount, passed = params.cArgs;
        if (passed > count) return false;
        const VARIANTARG *last = params.rgvarg + passed; // the first argument is last[-1]
        for (UINT p = 0; p < passed; ++p) {
            const VARTYPE type = member.directType[p];
            const VARIANTARG *arg = last - 1 - p;
            const VARTYPE exact = static_cast<VARTYPE>(VT_BYREF | type);
            void *storage;
            if (V_VT(arg) == exact) [[likely]] {
                storage = V_BYREF(arg);
            } else if (V_VT(arg) == (VT_BYREF | VT_VARIANT)) {
                const VARIANT *variable = V_VARIANTREF(arg);
                if (!variable) return false;
                if (V_VT(variable) == type)
                    storage = Payload(const_cast<VARIANT *>(variable));
                else if (V_VT(variable) == exact)
                    storage = V_BYREF(variable);
                else
                    return false;
            } else if (IsMissing(arg) && (member.directOptional >> p & 1u)) {
                slots_[p] = 0;
                continue;
            } else {
                return false;
            }
            // A reference that points nowhere is refused by the phases.
            if (!storage) return false;
            slots_[p] = reinterpret_cast<ULONG_PTR>(storage);
        }
        // Every parameter not passed must be optional; it gets a null pointer.
        const unsigned notPassed = ((1u << count) - 1u) & ~((1u << passed) - 1u);
        if ((member.directOptional & notPassed) != notPassed) return false;
        for (UINT p = passed; p < count; ++p) slots_[p] = 0;
        count_ = count;
        return true;
    }

    // Calls the member with the bound storage; its result, when it succeeds, goes to `result` (if
    // the caller wants it). Returns the member's own answer.
    HRESULT Call(const Member &member, IDispatch *object, VARIANT *result) {
        // The result is written where the caller wants it (or into a value of our own, freed
        // again); a failing member's partial result does not reach the caller.
        VARIANT discarded;
        VARIANT *returned = result ? result : &discarded;
        size_t n = count_;
        if (member.result != kNoResult) {
            V_VT(returned) = member.result;
            V_UI8(returned) = 0;
            slots_[n++] = reinterpret_cast<ULONG_PTR>(Payload(returned));
        }
        const HRESULT hr = CallDirect(object, member.vtableOffset, n, slots_);
        if (member.result != kNoResult && (FAILED(hr) || !result)) {
            VariantClear(returned);
            V_VT(returned) = VT_EMPTY;
        }
        return hr;
    }

private:
    DirectSlots slots_;
    UINT count_ = 0;
};

// IID_NULL, compared without loading it from the import library.
bool IsNullGuid(REFIID riid) {
    uint64_t halves[2];
    std::memcpy(halves, &riid, sizeof halves);
    return (halves[0] | halves[1]) == 0;
}

// Whether a failure is the runtime's (a member's error, or running out of memory), which Invoke
// reports as an exception, rather than a dispatch error about the call itself.
bool IsRuntimeFailure(HRESULT hr) { return hr == E_OUTOFMEMORY || HRESULT_FACILITY(hr) == FACILITY_CONTROL; }

// The exception information of a runtime failure (its error information taken from the thread).
// Without the memory to describe the failure, the caller still gets its code, and its standard text
// if even that can be had.
__attribute__((cold)) HRESULT ReportException(HRESULT failed, EXCEPINFO *exception) noexcept {
    if (!exception) return failed;
    Bstr source, description, helpFile;
    DWORD helpContext = 0;
    const HRESULT described = Guarded<Plumbing>([&] {
        const Failure failure = TakeFailure(failed);
        source = Bstr(failure.source);
        description = Bstr(failure.description);
        if (!failure.helpFile.empty()) helpFile = Bstr(failure.helpFile);
        helpContext = failure.helpContext;
        return S_OK;
    });
    if (FAILED(described) || !description.Allocated()) description = Bstr(StandardText(failed).View());
    exception->scode = failed;
    exception->bstrSource = source.Detach();
    exception->bstrDescription = description.Detach();
    exception->bstrHelpFile = helpFile.Detach();
    exception->dwHelpContext = helpContext;
    return DISP_E_EXCEPTION;
}

// One call of a member, bound in the phases Invoke runs one after the other.
class BoundCall {
public:
    using Member = DispatchInterface::Member;
    using Param = DispatchInterface::Param;

    BoundCall(const Member &member, DISPPARAMS &params, UINT *argError)
        : member_(member), params_(params), argError_(argError),
          count_(static_cast<UINT>(member.params.size())), source_(count_),
          bindings_(count_ + (member.result != kNoResult ? 1 : 0)) {}

    // Which of the caller's arguments goes to which parameter: positional ones from the end of the
    // list, named ones by their identifiers (DISPID_PROPERTYPUT: the value a put assigns).
    HRESULT RouteArguments() {
        const UINT positional = params_.cArgs - params_.cNamedArgs;
        for (UINT p = 0; p < count_; ++p) source_[p] = -1;
        if (positional > count_) return DISP_E_BADPARAMCOUNT;
        for (UINT p = 0; p < positional; ++p) source_[p] = static_cast<int>(params_.cArgs - 1 - p);
        for (UINT k = 0; k < params_.cNamedArgs; ++k) {
            const DISPID name = params_.rgdispidNamedArgs[k];
            UINT slot;
            if (name == DISPID_PROPERTYPUT) {
                if (!(member_.kind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) || count_ == 0)
                    return Fail(DISP_E_PARAMNOTFOUND, k);
                slot = count_ - 1;
            } else {
                if (name < 0 || static_cast<UINT>(name) >= count_) return Fail(DISP_E_PARAMNOTFOUND, k);
                slot = static_cast<UINT>(name);
                namedBeyondPut_ = true;
            }
            if (source_[slot] != -1) return Fail(DISP_E_PARAMNOTFOUND, k);
            source_[slot] = static_cast<int>(k);
        }
        return S_OK;
    }

    // Each parameter's value as the member takes it.
    HRESULT BindArguments() {
        for (UINT p = 0; p < count_; ++p) {
            VARIANTARG *arg = source_[p] >= 0 ? &params_.rgvarg[source_[p]] : nullptr;
            const UINT index = source_[p] >= 0 ? static_cast<UINT>(source_[p]) : 0;
            const Param &param = member_.params[p];
            HRESULT hr;
            if (!arg || IsMissing(arg))
                hr = BindOmitted(param, bindings_[p], arg, index);
            else if (PointsNowhere(arg))
                // A reference that points nowhere holds no value: refused before anything reads it
                // (the automation library's own copying and coercion would follow it).
                hr = Fail(DISP_E_TYPEMISMATCH, index);
            else if (!param.byRef)
                hr = BindByValue(param, bindings_[p], arg, index);
            else
                hr = BindByReference(param, bindings_[p], arg, index);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }

    // The slot the member writes its result into: a zeroed value of the result's type.
    void PrepareResultSlot() {
        if (member_.result == kNoResult) return;
        Binding &r = bindings_[count_];
        V_VT(r.temp.Get()) = member_.result == VT_VARIANT ? static_cast<VARTYPE>(VT_EMPTY) : member_.result;
        V_UI8(r.temp.Get()) = 0;
        V_VT(&r.call) = static_cast<VARTYPE>(VT_BYREF | member_.result);
        V_BYREF(&r.call) = member_.result == VT_VARIANT ? static_cast<void *>(r.temp.Get()) : Payload(r.temp.Get());
    }

    // Calls the member through the vtable: directly when every argument takes one slot, through
    // DispCallFunc otherwise. The member's own answer goes to `memberResult`.
    HRESULT CallMember(void *object, HRESULT &memberResult) {
        const size_t n = bindings_.size();
        SmallArray<VARTYPE, kDirectSlots> types(n);
        SmallArray<VARIANTARG *, kDirectSlots> args(n);
        bool direct = n <= kDirectSlots;
        for (size_t i = 0; i < n; ++i) {
            Binding &b = bindings_[i];
            types[i] = b.variantByValue ? static_cast<VARTYPE>(VT_VARIANT) : V_VT(&b.call);
            args[i] = b.variantByValue ? b.temp.Get() : &b.call;
            direct = direct && TakesOneSlot(types[i]);
        }
        if (direct) {
            DirectSlots slots;
            for (size_t i = 0; i < n; ++i) slots[i] = SlotOf(types[i], args[i]);
            memberResult = CallDirect(object, member_.vtableOffset, n, slots);
            return S_OK;
        }
        VARIANT returned;
        VariantInit(&returned);
        const HRESULT hr = DispCallFunc(object, member_.vtableOffset, CC_STDCALL, VT_ERROR, static_cast<UINT>(n),
                                        types.data(), args.data(), &returned);
        if (FAILED(hr)) return hr;
        memberResult = V_ERROR(&returned);
        return S_OK;
    }

    // The member's new values of in-out parameters go back into the caller's variables (whether the
    // member succeeded or not). E_OUTOFMEMORY when a value could not be converted for want of it.
    HRESULT WriteBack() {
        HRESULT result = S_OK;
        for (UINT p = 0; p < count_; ++p) {
            Binding &b = bindings_[p];
            if (b.variableBack) {
                VariantClear(b.variableBack);
                b.temp.DetachTo(b.variableBack);
            } else if (b.slot) {
                const HRESULT hr = StoreByRef(b.slotType, b.slot, b.temp.Get());
                if (FAILED(hr) && SUCCEEDED(result)) result = hr;
            }
        }
        return result;
    }

    // Hands the member's result over to the caller.
    void TakeResult(VARIANT *result) {
        if (member_.result != kNoResult) bindings_[count_].temp.DetachTo(result);
    }

private:
    // A dispatch error at the caller's argument `index`.
    HRESULT Fail(HRESULT hr, UINT index) {
        if (argError_) *argError_ = index;
        return hr;
    }

    HRESULT BindOmitted(const Param &param, Binding &b, const VARIANTARG *arg, UINT index) {
        if (!param.optional) {
            if (arg) return Fail(DISP_E_PARAMNOTFOUND, index);
            return namedBeyondPut_ ? DISP_E_PARAMNOTFOUND : DISP_E_BADPARAMCOUNT;
        }
        if (param.type == VT_VARIANT) {
            SetMissing(b.temp.Get());
            V_VT(&b.call) = VT_BYREF | VT_VARIANT;
            V_VARIANTREF(&b.call) = b.temp.Get();
            b.variantByValue = !param.byRef;
        } else if (param.byRef) {
            V_VT(&b.call) = static_cast<VARTYPE>(VT_BYREF | param.type);
            V_BYREF(&b.call) = nullptr; // omitted
        } else {
            V_VT(b.temp.Get()) = param.type;
            V_UI8(b.temp.Get()) = 0;
            b.call = *b.temp.Get();
        }
        return S_OK;
    }

    // A parameter taken by value: the caller's value coerced into a temporary.
    HRESULT BindByValue(const Param &param, Binding &b, const VARIANTARG *arg, UINT index) {
        const HRESULT hr = Coerce(arg, param.type, b.temp);
        if (FAILED(hr)) return CoercionFailure(hr, index);
        if (param.type == VT_VARIANT)
            b.variantByValue = true;
        else
            b.call = *b.temp.Get();
        return S_OK;
    }

    // A parameter taken by reference: the caller's own storage when it has the parameter's type,
    // otherwise a coerced temporary whose value goes back to the caller's variable or typed slot.
    HRESULT BindByReference(const Param &param, Binding &b, VARIANTARG *arg, UINT index) {
        const VARTYPE given = V_VT(arg);
        V_VT(&b.call) = static_cast<VARTYPE>(VT_BYREF | param.type);
        if (given == static_cast<VARTYPE>(VT_BYREF | param.type)) {
            // The caller's own slot has the parameter's type: the member writes straight into it.
            if (!V_BYREF(arg)) return Fail(DISP_E_TYPEMISMATCH, index);
            V_BYREF(&b.call) = V_BYREF(arg);
            return S_OK;
        }
        if (given == (VT_BYREF | VT_VARIANT)) {
            VARIANT *variable = V_VARIANTREF(arg);
            if (!variable) return Fail(DISP_E_TYPEMISMATCH, index);
            if (V_VT(variable) == param.type) {
                V_BYREF(&b.call) = Payload(variable);
                return S_OK;
            }
            if (V_VT(variable) == static_cast<VARTYPE>(VT_BYREF | param.type) && V_BYREF(variable)) {
                V_BYREF(&b.call) = V_BYREF(variable);
                return S_OK;
            }
            const HRESULT hr = Coerce(variable, param.type, b.temp);
            if (FAILED(hr)) return CoercionFailure(hr, index);
            if (param.out) b.variableBack = variable;
        } else {
            const HRESULT hr = Coerce(arg, param.type, b.temp);
            if (FAILED(hr)) return CoercionFailure(hr, index);
            if ((given & VT_BYREF) && !(given & VT_ARRAY) && param.out) {
                b.slotType = static_cast<VARTYPE>(given & ~VT_BYREF);
                b.slot = V_BYREF(arg);
            }
        }
        V_BYREF(&b.call) = param.type == VT_VARIANT ? static_cast<void *>(b.temp.Get()) : Payload(b.temp.Get());
        return S_OK;
    }

    // A value that cannot be coerced is a dispatch error at its argument; one that could not be for
    // want of memory is the runtime's failure, of no argument in particular.
    HRESULT CoercionFailure(HRESULT hr, UINT index) { return hr == E_OUTOFMEMORY ? hr : Fail(hr, index); }

    const Member &member_;
    DISPPARAMS &params_;
    UINT *argError_;
    const UINT count_;
    bool namedBeyondPut_ = false;
    SmallArray<int, kDirectSlots> source_;        // per parameter: the caller's argument, or -1
    SmallArray<Binding, kDirectSlots> bindings_;  // per parameter, then the result
};

// A call through the binder's phases (kept out of line: the direct route needs none of it).
__attribute__((noinline)) HRESULT InvokeInPhases(const DispatchInterface::Member &member, IDispatch *object,
                                                 DISPPARAMS &params, VARIANT *result, EXCEPINFO *exception,
                                                 UINT *argError) {
    // Keeps the object alive while the member runs, whatever the member releases (the objects the
    // caller passes reach their members this way).
    object->AddRef();
    HRESULT memberResult = S_OK;
    const HRESULT hr = Guarded([&] {
        BoundCall call(member, params, argError);
        HRESULT step = call.RouteArguments();
        if (SUCCEEDED(step)) step = call.BindArguments();
        if (FAILED(step)) return step;
        call.PrepareResultSlot();
        step = call.CallMember(object, memberResult);
        if (FAILED(step)) return step;
        step = call.WriteBack();
        if (FAILED(step)) return step;
        if (SUCCEEDED(memberResult) && result) call.TakeResult(result);
        return S_OK;
    });
    object->Release();
    // (Running out of memory in the binder is the runtime's error 7; a member's own E_OUTOFMEMORY,
    // passed on from elsewhere, is left as it is.)
    if (FAILED(hr)) return IsRuntimeFailure(hr) ? ReportException(RuntimeFailure(hr), exception) : hr;
    if (FAILED(memberResult)) return ReportException(memberResult, exception);
    return S_OK;
}

// Whether two strings of `length` characters hold the same characters (compared four at a time).
bool SameCharacters(const wchar_t *a, const wchar_t *b, size_t length) {
    size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        uint64_t x, y;
        std::memcpy(&x, a + i, sizeof x);
        std::memcpy(&y, b + i, sizeof y);
        if (x != y) return false;
    }
    for (; i < length; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// Which member a call of `id` with these flags reaches, by the members' order in the vtable: the
// rule that the description's look-up table (FindIn) answers from.
const DispatchInterface::Member *Reached(const std::vector<DispatchInterface::Member> &members, DISPID id,
                                         WORD flags) {
    using Member = DispatchInterface::Member;
    // A caller that sets both put flags (JScript assigning an object) reaches the by-reference
    // assignment first.
    if ((flags & DISPATCH_PROPERTYPUTREF) && (flags & DISPATCH_PROPERTYPUT)) {
        for (const Member &m : members)
            if (m.id == id && m.kind == INVOKE_PROPERTYPUTREF) return &m;
    }
    for (const Member &m : members)
        if (m.id == id && (m.kind & flags)) return &m;
    // Callers that cannot tell a method from a property with parameters call it as a method.
    if (flags & DISPATCH_METHOD) {
        for (const Member &m : members)
            if (m.id == id && m.kind == INVOKE_PROPERTYGET) return &m;
    }
    return nullptr;
}

// Fills the description's table of which member each identifier and set of flags reaches (an open
// addressing hash table at most a quarter full, so that a look-up meets its identifier at once).
void MakeLookup(DispatchInterface::Description &d) {
    using Lookup = DispatchInterface::Description::Lookup;
    size_t size = 8;
    while (size < 4 * d.members.size()) size *= 2;
    d.lookup.assign(size, Lookup{});
    const size_t mask = d.lookupMask = size - 1;
    for (const DispatchInterface::Member &m : d.members) {
        size_t slot = DispatchInterface::Description::LookupSlot(m.id, mask);
        while (d.lookup[slot].member[0] != Lookup::kFree && d.lookup[slot].id != m.id) slot = (slot + 1) & mask;
        Lookup &entry = d.lookup[slot];
        if (entry.member[0] != Lookup::kFree) continue; // the identifier's entry is made
        entry.id = m.id;
        for (WORD flags = 0; flags <= Lookup::kFlags; ++flags) {
            const DispatchInterface::Member *reached = Reached(d.members, m.id, flags);
            entry.member[flags] = reached ? static_cast<short>(reached - d.members.data()) : Lookup::kNone;
        }
    }
}

// Resolves a type description to the automation type of a value. `pointers` counts the levels of
// indirection on the way; an interface pointer is the object itself, so it takes one level back.
HRESULT Resolve(ITypeInfo *context, const TYPEDESC &desc, VARTYPE &vt, int &pointers) {
    const TYPEDESC *t = &desc;
    while (t->vt == VT_PTR) {
        ++pointers;
        t = t->lptdesc;
    }
    if (t->vt != VT_USERDEFINED) {
        vt = t->vt;
        return S_OK;
    }
    ComPtr<ITypeInfo> ref;
    HRESULT hr = context->GetRefTypeInfo(t->hreftype, &ref);
    if (FAILED(hr)) return hr;
    TypeAttr attr;
    hr = attr.Read(ref.Get());
    if (FAILED(hr)) return hr;
    switch (attr->typekind) {
    case TKIND_ENUM: vt = VT_I4; return S_OK;
    case TKIND_DISPATCH: vt = VT_DISPATCH; --pointers; return S_OK;
    case TKIND_INTERFACE:
        vt = (attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE) ? VT_DISPATCH : VT_UNKNOWN;
        --pointers;
        return S_OK;
    case TKIND_ALIAS: return Resolve(ref.Get(), attr->tdescAlias, vt, pointers);
    default: return TYPE_E_UNSUPFORMAT;
    }
}

HRESULT DescribeParam(ITypeInfo *info, const TYPEDESC &desc, DispatchInterface::Param &param) {
    VARTYPE vt = VT_EMPTY;
    int pointers = 0;
    HRESULT hr = Resolve(info, desc, vt, pointers);
    if (FAILED(hr)) return hr;
    if (pointers < 0 || pointers > 1) return TYPE_E_UNSUPFORMAT;
    param.type = vt;
    param.byRef = pointers == 1;
    return S_OK;
}

// The member at `index` of the vtable face.
HRESULT ReadMember(ITypeInfo *vtableInfo, UINT index, DispatchInterface::Member &member) {
    FuncDesc desc;
    HRESULT hr = desc.Read(vtableInfo, index);
    if (FAILED(hr)) return hr;
    member.id = desc->memid;
    member.kind = desc->invkind;
    member.vtableOffset = static_cast<ULONG_PTR>(desc->oVft);
    bool optionalSeen = false;
    for (SHORT p = 0; p < desc->cParams; ++p) {
        const ELEMDESC &elem = desc->lprgelemdescParam[p];
        const USHORT flags = elem.paramdesc.wParamFlags;
        DispatchInterface::Param param;
        hr = DescribeParam(vtableInfo, elem.tdesc, param);
        if (FAILED(hr)) return hr;
        if (flags & PARAMFLAG_FRETVAL) {
            member.result = param.type;
            continue;
        }
        param.optional = (flags & PARAMFLAG_FOPT) != 0;
        param.out = (flags & PARAMFLAG_FOUT) != 0;
        optionalSeen = optionalSeen || param.optional;
        if (!optionalSeen) ++member.required;
        member.params.push_back(param);
    }
    member.paramCount = static_cast<UINT>(member.params.size());
    member.direct = member.params.size() + (member.result != kNoResult ? 1 : 0) <= kDirectSlots &&
                    member.result != VT_VARIANT && member.result != VT_DECIMAL;
    for (size_t p = 0; p < member.params.size() && member.direct; ++p) {
        const DispatchInterface::Param &param = member.params[p];
        member.direct = param.byRef && param.type != VT_VARIANT && !IsObjectType(param.type);
        member.directType[p] = param.type;
        if (param.optional) member.directOptional = static_cast<uint8_t>(member.directOptional | 1u << p);
    }
    return S_OK;
}

// Reads the interface and its class from the module's type library into `d`. (Allocates: run it
// guarded.)
HRESULT ReadDescription(REFIID iid, REFCLSID clsid, int typelibIndex, DispatchInterface::Description &d) {
    std::wstring path = module::FilePath();
    if (typelibIndex != 1) path += L"\\" + Decimal(typelibIndex);
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    ComPtr<ITypeInfo> info;
    hr = library->GetTypeInfoOfGuid(iid, &info);
    if (FAILED(hr)) return hr;
    hr = library->GetTypeInfoOfGuid(clsid, &d.classInfo);
    if (FAILED(hr)) return hr;

    // A dual interface has two faces: the dispinterface (what clients see through IDispatch) and
    // the vtable interface (whose descriptions carry the vtable offsets).
    TypeAttr attr;
    hr = attr.Read(info.Get());
    if (FAILED(hr)) return hr;
    ComPtr<ITypeInfo> vtableInfo;
    HREFTYPE other = 0;
    if (attr->typekind == TKIND_DISPATCH) {
        d.dispatchInfo = info;
        if (FAILED(info->GetRefTypeOfImplType(-1, &other)) || FAILED(info->GetRefTypeInfo(other, &vtableInfo)))
            return TYPE_E_ELEMENTNOTFOUND;
    } else if (attr->typekind == TKIND_INTERFACE) {
        vtableInfo = info;
        if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &other))) info->GetRefTypeInfo(other, &d.dispatchInfo);
        if (!d.dispatchInfo) d.dispatchInfo = info;
    } else {
        return TYPE_E_WRONGTYPEKIND;
    }

    TypeAttr vtableAttr;
    hr = vtableAttr.Read(vtableInfo.Get());
    if (FAILED(hr)) return hr;
    for (WORD i = 0; i < vtableAttr->cFuncs; ++i) {
        DispatchInterface::Member member;
        hr = ReadMember(vtableInfo.Get(), i, member);
        if (FAILED(hr)) return hr;
        d.members.push_back(std::move(member));
    }
    MakeLookup(d);

    // The members' names as the type information spells them, each with the identifier its own
    // GetIDsOfNames gives for exactly that spelling (used by GetIDsOfNames below). A name it does not
    // answer for stays out of the list and is asked of it on every call.
    for (const DispatchInterface::Member &m : d.members) {
        Bstr name;
        hr = vtableInfo->GetDocumentation(m.id, name.Receive(), nullptr, nullptr, nullptr);
        if (hr == E_OUTOFMEMORY) return hr;
        if (FAILED(hr) || !name.Get()) continue;
        const std::wstring spelling(name.View());
        bool known = false;
        for (const auto &entry : d.names) known = known || entry.spelling == spelling;
        if (known || spelling.find(L'\0') != std::wstring::npos) continue;
        LPOLESTR asked[] = {name.Get()};
        DISPID answer = DISPID_UNKNOWN;
        hr = d.dispatchInfo->GetIDsOfNames(asked, 1, &answer);
        if (hr == E_OUTOFMEMORY) return hr;
        if (hr == S_OK) d.names.push_back({spelling, answer});
    }
    std::stable_sort(d.names.begin(), d.names.end(),
                     [](const auto &a, const auto &b) { return a.spelling.size() < b.spelling.size(); });
    const size_t longest = d.names.empty() ? 0 : d.names.back().spelling.size();
    d.nameStart.assign(longest + 2, 0);
    for (const auto &entry : d.names) ++d.nameStart[entry.spelling.size() + 1];
    for (size_t n = 1; n < d.nameStart.size(); ++n) d.nameStart[n] += d.nameStart[n - 1];
    return S_OK;
}

} // namespace

HRESULT ChangeType(const VARIANT *value, VARTYPE type, Variant &out) {
    Variant plain;
    HRESULT hr = VariantCopyInd(plain.Get(), const_cast<VARIANT *>(value));
    if (SUCCEEDED(hr) && IsMalformedDecimal(plain.Get())) hr = DISP_E_TYPEMISMATCH;
    if (SUCCEEDED(hr) && IsNaNForExactType(plain.Get(), type)) hr = DISP_E_OVERFLOW;
    if (SUCCEEDED(hr)) hr = VariantChangeType(out.Receive(), plain.Get(), 0, type);
    if (FAILED(hr)) return hr == DISP_E_OVERFLOW || hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
    return S_OK;
}

DispatchInterface::DispatchInterface(REFIID iid, REFCLSID clsid, int typelibIndex) noexcept
    : iid_(iid), clsid_(clsid), typelibIndex_(typelibIndex) {}

DispatchInterface::~DispatchInterface() { delete description_.load(); }

// Threads that make their first call at once read the type library one after the other, and the
// later ones take the first one's description. Loading the same type library in several threads at
// once, with the copies of all but one released again straight away, is more than the automation
// library's cache of loaded libraries stands up to: under Wine a release freed a library another
// thread had just found in that cache, and the process crashed.
HRESULT DispatchInterface::ReadTypeLibrary(const Description *&out) const {
    AcquireSRWLockExclusive(&reading_);
    HRESULT hr = S_OK;
    out = description_.load(std::memory_order_acquire);
    if (!out) {
        std::unique_ptr<Description> read;
        hr = Guarded<Plumbing>([&] {
            read = std::make_unique<Description>();
            return ReadDescription(iid_, clsid_, typelibIndex_, *read);
        });
        if (SUCCEEDED(hr)) {
            out = read.release();
            description_.store(out, std::memory_order_release);
        }
    }
    ReleaseSRWLockExclusive(&reading_);
    return hr;
}

HRESULT DispatchInterface::GetClassInfo(ITypeInfo **info) const {
    if (!info) return E_POINTER;
    *info = nullptr;
    const Description *d = nullptr;
    HRESULT hr = Read(d);
    if (FAILED(hr)) return hr;
    return d->classInfo.CopyTo(info);
}

HRESULT DispatchInterface::GetTypeInfoCount(UINT *count) const {
    if (!count) return E_POINTER;
    const Description *d = nullptr;
    const HRESULT hr = Read(d);
    *count = SUCCEEDED(hr) ? 1 : 0;
    return hr == E_OUTOFMEMORY ? hr : S_OK;
}

HRESULT DispatchInterface::GetTypeInfo(UINT index, LCID, ITypeInfo **info) const {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    const Description *d = nullptr;
    HRESULT hr = Read(d);
    if (FAILED(hr)) return hr;
    return d->dispatchInfo.CopyTo(info);
}

namespace {
// The identifier of a name spelt exactly as one of the description's known names, or DISPID_UNKNOWN.
DISPID KnownNameIn(const DispatchInterface::Description &d, const wchar_t *name) {
    // The name's length, as far as a known name can be long.
    const size_t longest = d.nameStart.size() - 2;
    size_t length = 0;
    while (name[length]) {
        if (++length > longest) return DISPID_UNKNOWN;
    }
    for (size_t i = d.nameStart[length]; i < d.nameStart[length + 1]; ++i)
        if (SameCharacters(d.names[i].spelling.data(), name, length)) return d.names[i].id;
    return DISPID_UNKNOWN;
}
} // namespace

HRESULT DispatchInterface::GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID,
                                         DISPID *ids) const noexcept {
    if (!IsNullGuid(riid)) return DISP_E_UNKNOWNINTERFACE;
    if (count && (!names || !ids)) return E_INVALIDARG;
    const Description *d = nullptr;
    HRESULT hr = Read(d);
    if (FAILED(hr)) return hr;
    if (count == 0) return S_OK;
    for (UINT i = 0; i < count; ++i) {
        if (!names[i]) {
            for (UINT j = 0; j < count; ++j) ids[j] = DISPID_UNKNOWN;
            return DISP_E_UNKNOWNNAME;
        }
    }
    // A name spelt exactly as one the type information has already answered for gets that answer
    // again (a script host asks on every call); any other spelling asks the type information.
    if (count == 1) {
        const DISPID known = KnownNameIn(*d, names[0]);
        if (known != DISPID_UNKNOWN) {
            ids[0] = known;
            return S_OK;
        }
    }
    return d->dispatchInfo->GetIDsOfNames(names, count, ids);
}

namespace {
// The member that a call with these flags reaches, or null: the description's table says.
const DispatchInterface::Member *FindIn(const DispatchInterface::Description &d, DISPID id, WORD flags) {
    using Lookup = DispatchInterface::Description::Lookup;
    const size_t mask = d.lookupMask;
    for (size_t slot = DispatchInterface::Description::LookupSlot(id, mask);; slot = (slot + 1) & mask) {
        const Lookup &entry = d.lookup[slot];
        if (entry.member[0] == Lookup::kFree) return nullptr;
        if (entry.id == id) {
            const short index = entry.member[flags & Lookup::kFlags];
            return index >= 0 ? &d.members[static_cast<size_t>(index)] : nullptr;
        }
    }
}
} // namespace

HRESULT DispatchInterface::Invoke(IDispatch *object, DISPID id, REFIID riid, WORD flags, DISPPARAMS *params,
                                  VARIANT *result, EXCEPINFO *exception, UINT *argError) const noexcept {
    // (The branches a well-formed call does not take are marked so: the way such a call takes
    // stays short, in few cache lines.)
    if (!IsNullGuid(riid)) [[unlikely]]
        return DISP_E_UNKNOWNINTERFACE;
    if (!params) [[unlikely]]
        return E_INVALIDARG;
    if ((params->cArgs && !params->rgvarg) || params->cNamedArgs > params->cArgs ||
        (params->cNamedArgs && !params->rgdispidNamedArgs)) [[unlikely]]
        return E_INVALIDARG;
    if (result) V_VT(result) = VT_EMPTY; // (VariantInit, without the call into the library)
    if (exception) *exception = EXCEPINFO{};
    const Description *d = nullptr;
    const HRESULT hr = Read(d);
    // (Running out of memory here is the runtime's error 7.)
    if (FAILED(hr)) [[unlikely]]
        return IsRuntimeFailure(hr) ? ReportException(RuntimeFailure(hr), exception) : hr;

    const Member *member = FindIn(*d, id, flags);
    if (!member) [[unlikely]]
        return DISP_E_MEMBERNOTFOUND;

    CallersStorage direct;
    if (direct.Bind(*member, *params)) [[likely]] {
        const HRESULT memberResult = direct.Call(*member, object, result);
        if (FAILED(memberResult)) [[unlikely]]
            return ReportException(memberResult, exception);
        return S_OK;
    }
    return InvokeInPhases(*member, object, *params, result, exception, argError);
}

} // namespace rt
