// Provisional body of the feature selection: no feature-bound prerequisite is
// installed before msiexec. The feature selection replaces this file.
#include "feature_selection.h"

int install_feature_prerequisites(Session&, const std::wstring&) { return 0; }
