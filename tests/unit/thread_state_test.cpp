// The per-thread component state: each thread has its own name buffer and buddy slot, which every
// instance on that thread shares and no other thread sees.
#include <thread>

#include "unit_support.h"

using namespace unit;

namespace {

ComPtr<IDispatch> NewDictionary() {
    CLSID clsid;
    ComPtr<IDispatch> dictionary;
    if (SUCCEEDED(CLSIDFromProgID(L"Scripting.Dictionary", &clsid)))
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                         reinterpret_cast<void **>(dictionary.GetAddressOf()));
    EXPECT_TRUE(dictionary);
    return dictionary;
}

// Reads the buffer as it stands: a size of -1 offers the platform no positions.
std::wstring Buffer(_clsQxAtomTables10A *tables, ATOM atom) {
    short number = static_cast<short>(atom), size = -1, copied = -9;
    Bstr result;
    EXPECT_EQ(S_OK, tables->GetAtomNameAmts(&number, &size, &copied, result.Receive()));
    EXPECT_EQ(0, copied);
    return std::wstring(result.View());
}

} // namespace

TEST(ThreadState, EachThreadHasItsOwnBufferAndSlot) {
    const ATOM mainAtom = AddAtomW(L"unit-thread-main");
    const ATOM workerAtom = AddAtomW(L"xy");
    ASSERT_NE(0, mainAtom);
    ASSERT_NE(0, workerAtom);

    ComPtr<_clsQxAtomTables10A> tables = NewTables();
    ComPtr<_clsQxAtomTables10A> sameThread = NewTables();
    short number = static_cast<short>(mainAtom), size = 0, copied = 0;
    Bstr read;
    ASSERT_EQ(S_OK, tables->GetAtomNameAmts(&number, &size, &copied, read.Receive()));
    ASSERT_EQ(16, copied);
    ComPtr<IDispatch> mainObject = NewDictionary();
    ASSERT_EQ(S_OK, tables->putref_BuddyObjectGlobal(mainObject.Get()));
    EXPECT_EQ(L"unit-thread-main", Buffer(sameThread.Get(), mainAtom).substr(0, 16)) << "shared on the thread";

    std::wstring workerFirst, workerSecond;
    bool workerSlotEmpty = false, workerSlotOwn = false;
    std::thread worker([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            ComPtr<_clsQxAtomTables10A> own = NewTables();
            workerFirst = Buffer(own.Get(), mainAtom);
            short workerNumber = static_cast<short>(workerAtom), workerSize = 0, workerCopied = 0;
            Bstr workerRead;
            own->GetAtomNameAmts(&workerNumber, &workerSize, &workerCopied, workerRead.Receive());
            workerSecond = workerRead.View();
            ComPtr<IDispatch> slot;
            own->get_BuddyObjectGlobal(&slot);
            workerSlotEmpty = !slot;
            ComPtr<IDispatch> workerObject = NewDictionary();
            own->putref_BuddyObjectGlobal(workerObject.Get());
            own->get_BuddyObjectGlobal(slot.ReleaseAndGetAddressOf());
            workerSlotOwn = slot.Get() == workerObject.Get();
        }
        CoUninitialize();
    });
    worker.join();

    EXPECT_EQ(255u, workerFirst.size());
    EXPECT_EQ(std::wstring::npos, workerFirst.find(L"unit-thread-main")) << "the worker's buffer is its own";
    EXPECT_EQ(std::wstring(L"xy\0", 3), workerSecond.substr(0, 3));
    EXPECT_EQ(std::wstring::npos, workerSecond.find(L"thread-main"));
    EXPECT_TRUE(workerSlotEmpty) << "the worker's slot starts empty";
    EXPECT_TRUE(workerSlotOwn);

    EXPECT_EQ(L"unit-thread-main", Buffer(tables.Get(), mainAtom).substr(0, 16)) << "the worker's read left this one alone";
    ComPtr<IDispatch> slot;
    ASSERT_EQ(S_OK, sameThread->get_BuddyObjectGlobal(&slot));
    EXPECT_EQ(mainObject.Get(), slot.Get()) << "the worker's assignment left this slot alone";
    ASSERT_EQ(S_OK, tables->putref_BuddyObjectGlobal(nullptr));
    DeleteAtom(mainAtom);
    DeleteAtom(workerAtom);
}
