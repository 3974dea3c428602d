// Building blocks: what the pieces a call may be made of cost on this platform, measured the same
// way as the cases. They say where the time of a path goes (and what an optimisation can save).
#include <string>

#include "bench.h"
#include "runtime/thread_slot.h"

namespace bench {
namespace {

thread_local int t_counter = 0;
// Out of line, so that each call looks the thread's variable up (emulated TLS on mingw-w64).
__attribute__((noinline)) void TouchThreadLocal() { ++t_counter; }

// The same through the runtime's per-thread slot (a TLS index; the thread's last error kept).
struct BenchSlotTag;
rt::ThreadSlot<BenchSlotTag> &BenchSlot() {
    static rt::ThreadSlot<BenchSlotTag> slot;
    return slot;
}
__attribute__((noinline)) void TouchThreadSlot() {
    auto &slot = BenchSlot();
    slot.Set(static_cast<char *>(slot.Get()) + 1);
}

Stats Time(int calls, int rounds, const std::function<void(int)> &run) {
    run(calls); // warm
    std::vector<double> ns;
    for (int r = 0; r < rounds; ++r) {
        const long long start = Ticks();
        run(calls);
        ns.push_back(NsBetween(start, Ticks()) / calls);
    }
    return Summarise(ns);
}

// The vtable offset of a member of the component's dual interface, from its type information.
ULONG_PTR VtableOffset(IDispatch *object, DISPID id) {
    ComPtr<ITypeInfo> info, vtable;
    if (FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info))) return 0;
    HREFTYPE other = 0;
    if (FAILED(info->GetRefTypeOfImplType(-1, &other)) || FAILED(info->GetRefTypeInfo(other, &vtable)))
        vtable = info;
    rt::TypeAttr attr;
    if (FAILED(attr.Read(vtable.Get()))) return 0;
    ULONG_PTR offset = 0;
    for (WORD i = 0; i < attr->cFuncs && !offset; ++i) {
        rt::FuncDesc desc;
        if (SUCCEEDED(desc.Read(vtable.Get(), i)) && desc->memid == id && desc->invkind == INVOKE_FUNC)
            offset = static_cast<ULONG_PTR>(desc->oVft);
    }
    return offset;
}

} // namespace

std::vector<Block> MeasureBlocks(Component &component, bool quick) {
    const int calls = quick ? 2000 : 20000;
    const int rounds = quick ? 5 : 15;
    std::vector<Block> blocks;
    auto add = [&](const wchar_t *what, const std::function<void(int)> &run) {
        blocks.push_back({what, Time(calls, rounds, run)});
    };

    const std::wstring name24 = L"AtomTablesBench.Existing";
    const std::wstring name255(255, L'x');
    add(L"SysAllocStringLen + SysFreeString, 24 characters", [&](int n) {
        for (int i = 0; i < n; ++i) {
            BSTR b = SysAllocStringLen(name24.data(), static_cast<UINT>(name24.size()));
            Keep(reinterpret_cast<ULONG_PTR>(b) & 1);
            SysFreeString(b);
        }
    });
    add(L"SysAllocStringLen + SysFreeString, 255 characters", [&](int n) {
        for (int i = 0; i < n; ++i) {
            BSTR b = SysAllocStringLen(name255.data(), static_cast<UINT>(name255.size()));
            Keep(reinterpret_cast<ULONG_PTR>(b) & 1);
            SysFreeString(b);
        }
    });
    add(L"std::wstring of 24 characters (heap) made and freed", [&](int n) {
        for (int i = 0; i < n; ++i) {
            std::wstring copy(name24.data(), name24.size());
            Keep(copy.size());
        }
    });
    // The conversions as the contract floor makes them (NarrowName, WidenBytes).
    add(L"WideCharToMultiByte (CP_ACP), 24 characters, fixed buffer", [&](int n) {
        char out[kAnsiNameBytes];
        for (int i = 0; i < n; ++i) Keep(NarrowName(name24.data(), 24, out));
    });
    add(L"MultiByteToWideChar (CP_ACP), 24 characters, fixed buffer", [&](int n) {
        const char in[] = "AtomTablesBench.Existing";
        wchar_t out[24];
        for (int i = 0; i < n; ++i) Keep(WidenBytes(in, 24, out));
    });
    add(L"WideCharToMultiByte (CP_ACP), 255 characters, fixed buffer", [&](int n) {
        char out[kAnsiNameBytes];
        for (int i = 0; i < n; ++i) Keep(NarrowName(name255.data(), 255, out));
    });
    add(L"MultiByteToWideChar (CP_ACP), 255 characters, fixed buffer", [&](int n) {
        const std::string in(255, 'x');
        wchar_t out[255];
        for (int i = 0; i < n; ++i) Keep(WidenBytes(in.data(), 255, out));
    });
    add(L"thread_local access (emulated TLS)", [&](int n) {
        for (int i = 0; i < n; ++i) TouchThreadLocal();
    });
    add(L"per-thread slot read and write (TLS index, last error kept)", [&](int n) {
        for (int i = 0; i < n; ++i) TouchThreadSlot();
    });
    add(L"SetLastError + GetLastError", [&](int n) {
        for (int i = 0; i < n; ++i) {
            SetLastError(0);
            Keep(GetLastError());
        }
    });
    add(L"InterlockedIncrement + InterlockedDecrement (a reference taken and given back)", [&](int n) {
        static LONG volatile references = 1;
        for (int i = 0; i < n; ++i) {
            InterlockedIncrement(&references);
            Keep(InterlockedDecrement(&references));
        }
    });
    add(L"VariantInit + VariantClear of an Empty VARIANT", [&](int n) {
        VARIANT v;
        for (int i = 0; i < n; ++i) {
            VariantInit(&v);
            VariantClear(&v);
            Keep(V_VT(&v));
        }
    });
    add(L"VariantChangeType VT_I4 -> VT_I2", [&](int n) {
        VARIANT from, to;
        V_VT(&from) = VT_I4;
        V_I4(&from) = 37;
        for (int i = 0; i < n; ++i) {
            VariantInit(&to);
            VariantChangeType(&to, &from, 0, VT_I2);
            Keep(V_I2(&to));
        }
    });

    // Calling a member: directly, through DispCallFunc, and the binder's whole Invoke.
    _clsQxAtomTables10A *object = component.object.Get();
    add(L"vtable call of InitAtomTableAmts (the cheapest member)", [&](int n) {
        for (int i = 0; i < n; ++i) {
            short size = 37;
            LONG r = 0;
            object->InitAtomTableAmts(&size, &r);
            Keep(r);
        }
    });
    const ULONG_PTR offset = VtableOffset(component.dispatch.Get(), 0x60030007);
    if (offset) {
        add(L"DispCallFunc of InitAtomTableAmts", [&](int n) {
            for (int i = 0; i < n; ++i) {
                short size = 37;
                LONG r = 0;
                VARIANTARG a0, a1;
                V_VT(&a0) = VT_BYREF | VT_I2;
                V_I2REF(&a0) = &size;
                V_VT(&a1) = VT_BYREF | VT_I4;
                V_I4REF(&a1) = &r;
                VARTYPE types[] = {V_VT(&a0), V_VT(&a1)};
                VARIANTARG *args[] = {&a0, &a1};
                VARIANT returned;
                VariantInit(&returned);
                DispCallFunc(object, offset, CC_STDCALL, VT_ERROR, 2, types, args, &returned);
                Keep(r);
            }
        });
    }
    add(L"IDispatch::Invoke of InitAtomTableAmts by DISPID", [&](int n) {
        IDispatch *d = component.dispatch.Get();
        for (int i = 0; i < n; ++i) {
            short size = 37;
            VARIANTARG arg;
            V_VT(&arg) = VT_BYREF | VT_I2;
            V_I2REF(&arg) = &size;
            DISPPARAMS params{&arg, nullptr, 1, 0};
            VARIANT result;
            VariantInit(&result);
            EXCEPINFO exception{};
            UINT argError = 0;
            d->Invoke(0x60030007, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                      &result, &exception, &argError);
            VariantClear(&result);
        }
    });
    add(L"IDispatch::GetIDsOfNames(\"FindAtomAmts\")", [&](int n) {
        IDispatch *d = component.dispatch.Get();
        for (int i = 0; i < n; ++i) {
            LPOLESTR names[] = {const_cast<LPOLESTR>(L"FindAtomAmts")};
            DISPID id = 0;
            d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
            Keep(id);
        }
    });
    return blocks;
}

} // namespace bench
