// clsQxAtomTables10A: the local and global atom tables, the component's own resources and
// application properties, the per-thread buddy slot, and About.
#pragma once

#include "AtomTables10.h"
#include "runtime/automation_object.h"
#include "runtime/thread_context.h"

class clsQxAtomTables10A : public rt::AutomationObject<clsQxAtomTables10A, _clsQxAtomTables10A> {
public:
    static constexpr wchar_t kIdentityCode[] = L"czAtomTables";

    // Resource and standard-property accessors: failures reach the caller.
    STDMETHODIMP get_GetProStdProperties(IDispatch **result) override;
    STDMETHODIMP get_GetProResStrings(LONG *lResId, BSTR *result) override;
    STDMETHODIMP get_GetProResPicture(LONG *lResId, LoadResConstants *lRestype, IPictureDisp **result) override;
    STDMETHODIMP get_GetProResData(LONG *lResId, VARIANT *vRestype, VARIANT *result) override;

    STDMETHODIMP About(LONG *result) override;
    STDMETHODIMP get_BuddyObjectGlobal(IDispatch **result) override;
    STDMETHODIMP putref_BuddyObjectGlobal(IDispatch *oNewValue) override;

    // Atom members: failures are trapped, reported, and the result stays at its default.
    STDMETHODIMP InitAtomTableAmts(short *iSizeToSet, LONG *result) override;
    STDMETHODIMP AddAtomAmts(BSTR *sAtomName, LONG *result) override;
    STDMETHODIMP DeleteAtomAmts(short *iAtomNumber, LONG *result) override;
    STDMETHODIMP FindAtomAmts(BSTR *sAtomName, LONG *result) override;
    STDMETHODIMP GetAtomNameAmts(short *iAtomNumber, short *iSizeToCopy, short *iCharactersCopied,
                                 BSTR *result) override;
    STDMETHODIMP GlobalAddAtomAmts(BSTR *sAtomName, LONG *result) override;
    STDMETHODIMP GlobalDeleteAtomAmts(short *iAtomNumber, LONG *result) override;
    STDMETHODIMP GlobalFindAtomAmts(BSTR *sAtomName, LONG *result) override;
    STDMETHODIMP GlobalGetAtomNameAmts(short *iAtomNumber, short *iSizeToCopy, short *iCharactersCopied,
                                       BSTR *result) override;

private:
    rt::ThreadPin pin_;
};
