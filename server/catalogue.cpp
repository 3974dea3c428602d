#include "catalogue.h"

#include "classes/clsQxAmtsAdvancedA.h"
#include "classes/clsQxAmtsAtomsA.h"
#include "classes/clsQxAmtsGeneralA.h"
#include "classes/clsQxAtomTables10A.h"

namespace server {
namespace {

const rt::CreatableClass kClasses[] = {
    {&CLSID_clsQxAtomTables10A, L"clsQxAtomTables10A", &rt::Create<clsQxAtomTables10A>},
    {&CLSID_clsQxAmtsAtomsA, L"clsQxAmtsAtomsA", &rt::Create<clsQxAmtsAtomsA>},
    {&CLSID_clsQxAmtsGeneralA, L"clsQxAmtsGeneralA", &rt::Create<clsQxAmtsGeneralA>},
    {&CLSID_clsQxAmtsAdvancedA, L"clsQxAmtsAdvancedA", &rt::Create<clsQxAmtsAdvancedA>},
};

} // namespace

std::span<const rt::CreatableClass> CreatableClasses() { return kClasses; }

rt::registration::Server Registration() { return {&LIBID_AtomTables10, 1, 0, kClasses}; }

} // namespace server
