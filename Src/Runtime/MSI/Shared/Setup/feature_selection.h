// chainsetup: the features a silent installation adds, computed by costing the
// package, and the prerequisites bound to them, installed before msiexec starts.
#pragma once
#include <windows.h>
#include <msi.h>

#include <string>

#include "feature_rules.h"

class Session;

// An install handle on `package` with `properties` set and costing done (its
// TRANSFORMS applied first), for reading feature states; 0 on failure. The
// installer's own user interface stays off while it opens and costs. The caller
// closes the handle.
MSIHANDLE OpenPackageForCosting(const std::wstring& package, const feature_rules::PropertyMap& properties);

// Comma-separated features the installation will add, from the session's
// installer property list and, where that names none, the package's costed
// states. `installer` (in/out): an open install handle, or 0 to have one opened
// here on `package`; it stays with the caller.
std::wstring BuildFeatureSelection(Session& session, const std::wstring& package, MSIHANDLE* installer);

// Installs the prerequisites bound to the selected features. Non-zero stops the
// launch (its exit code already set).
int install_feature_prerequisites(Session& session, const std::wstring& package_path);
