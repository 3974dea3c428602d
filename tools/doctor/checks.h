// The checks: each view as its architecture's COM runtime sees it, both views together, and the
// component used for real (the live check).
#pragma once

#include <vector>

#include "findings.h"
#include "installation.h"

namespace doctor {

// Every check of this Windows, in order: per view the ProgIDs, the class keys, the server file, its
// version, the type library, the interfaces' marshalling, the common library, Windows Installer's
// record and the live check; on 64-bit Windows last whether both views serve one version.
std::vector<Finding> Inspect(const Catalogue &catalogue);

// The live check in this program's own architecture: the main class created by ProgID, a private
// name added, found, read back and deleted, and one call from another apartment.
Finding LiveCheck(const Catalogue &catalogue, const View &view);

// The live check of the other architecture, made by that architecture's doctor.
Finding LiveCheckByCompanion(const View &view, const Package &package);

} // namespace doctor
