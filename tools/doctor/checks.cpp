#include "checks.h"

#include <algorithm>
#include <map>

#include "modules/basQxelCommonA.h"
#include "runtime/owners.h"

namespace doctor {
namespace {

// The automation (type-library) marshaler, which serves every dual interface of the component.
const std::wstring kMarshaler = L"{00020424-0000-0000-C000-000000000046}";

std::wstring List(const std::vector<std::wstring> &items) {
    std::wstring out;
    for (size_t i = 0; i < items.size(); ++i) out += (i == 0 ? L"" : i + 1 == items.size() ? L" and " : L", ") + items[i];
    return out;
}

std::wstring ClassKey(const CLSID &clsid) { return L"CLSID\\" + GuidText(clsid); }

// What the checks of one view learn and later checks use.
struct Facts {
    std::vector<const Catalogue::Class *> creatable;
    std::vector<std::wstring> registeredClasses;   // names of the creatable classes with a class key
    std::wstring server;                           // the file the classes are registered at
    bool serverUsable = false;                     // there, and of the view's architecture
    bool serverPresent = false;
    std::optional<rt::version::Numbers> version;
};

class ViewInspection {
public:
    ViewInspection(const Catalogue &catalogue, const View &view, const View *other, const Package &package)
        : catalogue_(catalogue), view_(view), other_(other), package_(package) {
        for (const auto &c : catalogue.classes)
            if (c.creatable) facts_.creatable.push_back(&c);
    }

    const Facts &facts() const { return facts_; }

    std::string Id(const char *check, const char *problem = nullptr) const {
        return view_.id + "." + check + (problem ? std::string(".") + problem : std::string());
    }
    std::wstring Programs() const { return view_.Bits() + L" programs"; }
    std::wstring Fix() const { return ComponentFix(view_, package_); }

    Finding ProgIds() const {
        std::vector<std::wstring> missing, other;
        for (const auto *c : facts_.creatable) {
            const std::wstring progId = c->ProgId(catalogue_);
            const auto clsid = String(view_, progId + L"\\CLSID");
            if (!clsid) missing.push_back(progId);
            else if (!SameText(*clsid, GuidText(c->clsid))) other.push_back(progId + L" names " + *clsid);
        }
        if (!missing.empty())
            return Problem(Id("progid", "missing"),
                           L"The ProgID" + std::wstring(missing.size() > 1 ? L"s " : L" ") + List(missing) +
                               (missing.size() > 1 ? L" are" : L" is") + L" not registered: CreateObject fails with error 429 in " +
                               Programs() + L", CLSIDFromProgID with " + Explain(CO_E_CLASSSTRING) + L".",
                           Fix());
        if (!other.empty())
            return Problem(Id("progid", "other-class"),
                           List(other) + L", not the component's class: programs that create it by ProgID get another "
                                         L"class or none.",
                           Fix());
        return Ok(Id("progid"), L"The ProgIDs of the " + std::to_wstring(facts_.creatable.size()) +
                                    L" creatable classes name their classes, as " + Programs() + L" look them up.");
    }

    Finding Classes() {
        std::vector<std::wstring> missing, threading, incomplete;
        for (const auto *c : facts_.creatable) {
            const std::wstring key = ClassKey(c->clsid);
            if (!KeyExists(view_, key)) {
                missing.push_back(c->name);
                continue;
            }
            facts_.registeredClasses.push_back(c->name);
            const auto model = String(view_, key + L"\\InprocServer32", L"ThreadingModel");
            if (!model || !SameText(*model, L"Apartment"))
                threading.push_back(c->name + L" (" + (model ? L"\"" + *model + L"\"" : std::wstring(L"none")) + L")");
            const auto progId = String(view_, key + L"\\ProgID");
            const auto library = String(view_, key + L"\\TypeLib");
            if (!progId || !SameText(*progId, c->ProgId(catalogue_)) || !library || !SameText(*library, GuidText(catalogue_.libid)))
                incomplete.push_back(c->name);
        }
        if (!missing.empty()) {
            std::wstring text = Programs() + L" find no class key for " + List(missing) + L" (HKEY_CLASSES_ROOT\\" +
                                ClassKey(facts_.creatable.front()->clsid) +
                                L" and the others): CoCreateInstance fails with " + Explain(REGDB_E_CLASSNOTREG) +
                                L", CreateObject with error 429.";
            if (other_ && KeyExists(*other_, ClassKey(facts_.creatable.front()->clsid)))
                text += L" The " + other_->Bits() + L" view has them: only the " + other_->Bits() +
                        L" DLL is registered, and " + Programs() + L" need their own.";
            return Problem(Id("class", "missing"), text, Fix());
        }
        if (!threading.empty())
            return Problem(Id("class", "threading-model"),
                           L"The threading model of " + List(threading) +
                               L" is not Apartment: the component's objects must be called on the thread that made them.",
                           Fix());
        if (!incomplete.empty())
            return Problem(Id("class", "incomplete"),
                           L"The class keys of " + List(incomplete) +
                               L" lack their ProgID or TypeLib entry, or name another one: object browsers and "
                               L"early-bound tools do not find the type library from the class.",
                           Fix());
        return Ok(Id("class"), L"The " + std::to_wstring(facts_.creatable.size()) +
                                   L" creatable classes have their keys for " + Programs() +
                                   L": InprocServer32 with ThreadingModel Apartment, ProgID and TypeLib.");
    }

    Finding Server() {
        if (facts_.registeredClasses.empty())
            return Problem(Id("server", "not-checked"),
                           L"No class is registered for " + Programs() + L", so there is no server file to check.", Fix());
        // Each file the classes are registered at, with the classes registered there (the main class first).
        std::vector<std::pair<std::wstring, std::vector<std::wstring>>> paths;
        std::vector<std::wstring> without;
        for (const auto *c : facts_.creatable) {
            if (!KeyExists(view_, ClassKey(c->clsid))) continue;
            const auto path = String(view_, ClassKey(c->clsid) + L"\\InprocServer32");
            if (!path || path->empty()) {
                without.push_back(c->name);
                continue;
            }
            auto known = std::find_if(paths.begin(), paths.end(), [&](const auto &p) { return SameText(p.first, *path); });
            if (known == paths.end()) known = paths.insert(paths.end(), {*path, {}});
            known->second.push_back(c->name);
        }
        if (!without.empty())
            return Problem(Id("server", "no-path"),
                           L"InprocServer32 of " + List(without) + L" names no file: " + Programs() +
                               L" cannot load the component.",
                           Fix());
        facts_.server = paths.front().first;
        auto at = [&](const auto &p) {
            return (paths.size() == 1 ? std::wstring(L"The classes are") : List(p.second) + (p.second.size() > 1 ? L" are" : L" is")) +
                   L" registered for " + Programs() + L" at " + p.first;
        };
        for (const auto &p : paths)
            if (!FileExists(p.first))
                return Problem(Id("server", "missing-file"),
                               at(p) + L", which is not there (moved or deleted after it was registered): CoCreateInstance "
                                       L"fails (on Windows 0x8007007E, under Wine 0x80070005) and CreateObject with error 429.",
                               Fix());
        facts_.serverPresent = true;
        for (const auto &p : paths) {
            const auto machine = PeMachine(p.first);
            if (!machine)
                return Problem(Id("server", "not-a-dll"),
                               at(p) + L", which is not a DLL that can be read: " + Programs() + L" cannot load it.", Fix());
            if (*machine != view_.Machine())
                return Problem(Id("server", "wrong-architecture"),
                               at(p) + L", which is " + MachineName(*machine) + L": " + Programs() +
                                   L" cannot load it (on Windows 0x800700C1, under Wine 0x80070005), and CreateObject fails "
                                   L"with error 429.",
                               Fix());
        }
        if (paths.size() > 1) {
            std::vector<std::wstring> files;
            for (const auto &p : paths) files.push_back(p.first + L" (" + List(p.second) + L")");
            return Problem(Id("server", "mixed"),
                           L"The classes are registered for " + Programs() + L" at different files, " + List(files) +
                               L": one registration was partly overwritten by another.",
                           Fix());
        }
        const auto machine = PeMachine(facts_.server);
        facts_.serverUsable = true;
        return Ok(Id("server"), L"The classes are served for " + Programs() + L" by " + facts_.server + L", " +
                                    MachineName(*machine) + L".");
    }

    Finding Version() {
        if (!facts_.serverPresent)
            return Problem(Id("version", "not-checked"),
                           L"No version was read: there is no server file for " + Programs() + L" (see " +
                               std::wstring(view_.id.begin(), view_.id.end()) + L".server).",
                           Fix());
        facts_.version = rt::version::FileVersion(facts_.server);
        if (!facts_.version)
            return Problem(Id("version", "unreadable"), facts_.server + L" has no version resource that can be read.", Fix());
        const std::wstring version = rt::version::Text(*facts_.version);
        if (version != OwnVersion())
            return Problem(Id("version", "other-version"),
                           facts_.server + L" is version " + version + L"; this doctor comes with version " + OwnVersion() +
                               L": " + Programs() + L" use another build than the one this doctor belongs to.",
                           Fix());
        return Ok(Id("version"), facts_.server + L" is version " + version + L", this doctor's own.");
    }

    Finding TypeLibrary() {
        const std::wstring key = L"TypeLib\\" + GuidText(catalogue_.libid) + L"\\" + catalogue_.Version() + L"\\0\\" +
                                 view_.Platform();
        const std::wstring consequence = L": late binding still works, but early binding (the vtable) and calls from "
                                         L"another apartment fail.";
        const auto path = String(view_, key);
        if (!path || path->empty())
            return Problem(Id("typelib", "missing"),
                           L"The type library " + catalogue_.library + L" " + catalogue_.Version() + L" is not registered for " +
                               Programs() + L" (HKEY_CLASSES_ROOT\\" + key + L")" + consequence,
                           Fix());
        if (!FileExists(*path))
            return Problem(Id("typelib", "missing-file"),
                           L"The type library is registered for " + Programs() + L" at " + *path + L", which is not there" +
                               consequence,
                           Fix());
        rt::ComPtr<ITypeLib> registered;
        const HRESULT hr = LoadTypeLibEx(path->c_str(), REGKIND_NONE, &registered);
        if (FAILED(hr))
            return Problem(Id("typelib", "unloadable"),
                           L"The type library registered for " + Programs() + L" at " + *path + L" cannot be loaded, " +
                               Explain(hr) + consequence,
                           Fix());
        std::wstring differs = Differs(registered.Get(), L"the registered library");
        if (differs.empty() && facts_.serverUsable && !SameText(*path, facts_.server)) {
            rt::ComPtr<ITypeLib> carried;
            if (SUCCEEDED(LoadTypeLibEx(facts_.server.c_str(), REGKIND_NONE, &carried)))
                differs = Differs(carried.Get(), L"the library " + facts_.server + L" carries");
        }
        if (!differs.empty())
            return Problem(Id("typelib", "other-library"),
                           L"The type library registered for " + Programs() + L" at " + *path + L" is not the component's: " +
                               differs + consequence,
                           Fix());
        return Ok(Id("typelib"), L"The type library " + catalogue_.library + L" " + catalogue_.Version() + L" " +
                                     GuidText(catalogue_.libid) + L" is registered for " + view_.Platform() + L" at " + *path +
                                     L", loads, and is the one the component carries.");
    }

    Finding Interfaces() const {
        std::vector<std::wstring> missing, proxyStub;
        for (const auto &dualInterface : catalogue_.interfaces) {
            const std::wstring key = L"Interface\\" + GuidText(dualInterface.iid);
            if (!KeyExists(view_, key)) {
                missing.push_back(dualInterface.name);
                continue;
            }
            const auto clsid = String(view_, key + L"\\ProxyStubClsid32");
            if (!clsid || !SameText(*clsid, kMarshaler)) proxyStub.push_back(dualInterface.name);
        }
        if (!missing.empty())
            return Problem(Id("interfaces", "missing"),
                           L"The registry view of " + Programs() + L" has no Interface key for " + List(missing) +
                               L": calls from another apartment through them fail with " + Explain(E_NOINTERFACE) + L".",
                           Fix());
        if (!proxyStub.empty())
            return Problem(Id("interfaces", "proxy-stub"),
                           L"The Interface key of " + List(proxyStub) + L" names no ProxyStubClsid32 of the type-library "
                           L"marshaler " + kMarshaler + L" for " + Programs() +
                               L": calls from another apartment through it cannot be marshalled.",
                           Fix());
        return Ok(Id("interfaces"), L"The " + std::to_wstring(catalogue_.interfaces.size()) +
                                        L" dual interfaces are marshalled for " + Programs() +
                                        L" by the type-library marshaler " + kMarshaler +
                                        L", as calls from another apartment need.");
    }

    Finding CommonLibrary() const {
        struct Need {
            const wchar_t *progId;
            const wchar_t *without;
        };
        const Need needs[] = {
            {basQxelCommonA::kErrorHandlerProgId,
             L"every report of a runtime failure fails, and with it the member that reports, About and the "
             L"creation of clsQxAmtsAtomsA: error 429, \"ActiveX component can't create object\""},
            {basQxelCommonA::kEnvironmentProgId, L"creating clsQxAmtsAtomsA reports two failures"},
            {basQxelCommonA::kBedrockProgId, L"About reports a failure instead of presenting the About information"},
        };
        std::vector<std::wstring> missing, missingFile, wrong, consequences, servers;
        for (const Need &need : needs) {
            const auto clsid = String(view_, std::wstring(need.progId) + L"\\CLSID");
            const auto server = clsid ? String(view_, L"CLSID\\" + *clsid + L"\\InprocServer32") : std::nullopt;
            std::wstring problem;
            if (!server || server->empty()) {
                missing.push_back(need.progId);
            } else if (!FileExists(*server)) {
                missingFile.push_back(std::wstring(need.progId) + L" (" + *server + L")");
            } else if (const auto machine = PeMachine(*server); !machine || *machine != view_.Machine()) {
                wrong.push_back(std::wstring(need.progId) + L" (" + *server + L")");
            } else {
                bool known = false;
                for (const auto &s : servers) known = known || SameText(s, *server);
                if (!known) servers.push_back(*server);
                continue;
            }
            consequences.push_back(need.without);
        }
        const std::wstring file = LibraryFile(view_, package_);
        const std::wstring fix = file.empty() ? std::wstring() : Regsvr32(view_, file);
        // Without the error handler nothing can be reported, which outweighs the rest.
        if (!consequences.empty() && consequences.front() == needs[0].without) consequences.resize(1);
        const std::wstring without =
            L" Without it " + List(consequences) + L"." +
            (file.empty() ? L" Install the common library QxBedrock10 for " + Programs() + L" (the maker's package)." : L"");
        auto are = [](const std::vector<std::wstring> &items) { return items.size() > 1 ? L" are" : L" is"; };
        if (!missing.empty())
            return Problem(Id("common-library", "missing"),
                           L"The common library's " + List(missing) + are(missing) + L" not registered for " + Programs() + L"." + without,
                           fix);
        if (!missingFile.empty())
            return Problem(Id("common-library", "missing-file"),
                           L"The common library's " + List(missingFile) + are(missingFile) + L" registered for " + Programs() +
                               L" at a file that is not there." + without,
                           fix);
        if (!wrong.empty())
            return Problem(Id("common-library", "wrong-architecture"),
                           L"The common library's " + List(wrong) + are(wrong) + L" registered for " + Programs() +
                               L" at a DLL of the other architecture." + without,
                           fix);
        return Ok(Id("common-library"), L"The common library's three classes (reports, environment status, About) are "
                                        L"registered for " + Programs() + L", served by " + List(servers) + L".");
    }

    Finding Installer() const {
        if (!package_.Installed())
            return Ok(Id("installer"), L"Not installed by Windows Installer (no AtomTables10 package): the registration "
                                       L"is regsvr32's, and regsvr32 mends it.");
        const std::wstring product = L"AtomTables10 " + package_.version + L" (product " + package_.product + L")";
        if (!package_.FeatureInstalled(view_))
            return Ok(Id("installer"), product + L" is installed without its " + view_.Lane() + L" feature, for " +
                                           Programs() + L": adding the feature installs it for them.");
        const std::wstring installed = package_.Folder(view_) + L"\\" + kComponentName;
        if (!facts_.server.empty() && !SameText(facts_.server, installed))
            return Problem(Id("installer", "registered-elsewhere"),
                           product + L" installed " + installed + L" for " + Programs() + L", but the classes are registered at " +
                               facts_.server + L": another copy was registered over the installation.",
                           Repair(package_));
        return Ok(Id("installer"), L"Installed by Windows Installer: " + product + L", feature " + view_.Lane() + L", " +
                                       installed + L". What is wrong here is mended by a repair of the package, not by regsvr32.");
    }

private:
    // How a type library differs from the component's (empty when it does not).
    std::wstring Differs(ITypeLib *library, const std::wstring &what) const {
        rt::TLibAttr attributes;
        if (FAILED(attributes.Read(library))) return what + L" has no attributes";
        std::wstring out;
        if (!IsEqualGUID(attributes->guid, catalogue_.libid) || attributes->wMajorVerNum != catalogue_.major ||
            attributes->wMinorVerNum != catalogue_.minor)
            out = what + L" is " + GuidText(attributes->guid) + L" " + std::to_wstring(attributes->wMajorVerNum) + L"." +
                  std::to_wstring(attributes->wMinorVerNum) + L", the component's " + GuidText(catalogue_.libid) + L" " +
                  catalogue_.Version();
        else if (attributes->syskind != (view_.is64 ? SYS_WIN64 : SYS_WIN32))
            out = what + L" is built for the other platform than " + view_.Platform();
        return out;
    }

    const Catalogue &catalogue_;
    const View &view_;
    const View *other_;
    const Package &package_;
    Facts facts_;
};

} // namespace

std::vector<Finding> Inspect(const Catalogue &catalogue) {
    const std::vector<View> views = Views();
    const Package package = InstalledPackage();
    std::vector<Finding> findings;
    std::map<std::string, Facts> facts;
    for (const View &view : views) {
        const View *other = nullptr;
        for (const View &v : views)
            if (v.id != view.id) other = &v;
        ViewInspection inspection(catalogue, view, other, package);
        findings.push_back(inspection.ProgIds());
        findings.push_back(inspection.Classes());
        findings.push_back(inspection.Server());
        findings.push_back(inspection.Version());
        findings.push_back(inspection.TypeLibrary());
        findings.push_back(inspection.Interfaces());
        findings.push_back(inspection.CommonLibrary());
        findings.push_back(inspection.Installer());
        findings.push_back(view.Own() ? LiveCheck(catalogue, view) : LiveCheckByCompanion(view, package));
        facts[view.id] = inspection.facts();
    }
    if (views.size() == 2) {
        const Facts &a = facts[views[0].id], &b = facts[views[1].id];
        if (!a.version || !b.version) {
            const View &unknown = a.version ? views[1] : views[0];
            findings.push_back(Problem("views.version.not-checked",
                                      L"The versions of the two views were not compared: the " + unknown.Bits() +
                                          L" view has no version to compare (see " +
                                          std::wstring(unknown.id.begin(), unknown.id.end()) + L".version).",
                                      ComponentFix(unknown, package)));
        } else if (*a.version != *b.version) {
            const View &odd = rt::version::Text(*a.version) != OwnVersion() ? views[0] : views[1];
            findings.push_back(Problem("views.version.mismatch",
                                       L"64-bit programs get version " + rt::version::Text(*a.version) +
                                           L" of the component, 32-bit programs version " + rt::version::Text(*b.version) +
                                           L": one view is registered from another build.",
                                       ComponentFix(odd, package)));
        } else {
            findings.push_back(Ok("views.version", L"64-bit and 32-bit programs get the same version, " +
                                                       rt::version::Text(*a.version) + L"."));
        }
    }
    return findings;
}

} // namespace doctor
