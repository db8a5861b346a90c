// chainsetup: the features a silent installation adds, computed by costing the
// package, and the prerequisites bound to them, installed before msiexec starts.
#pragma once
#include <string>

class Session;

// Non-zero stops the launch.
int install_feature_prerequisites(Session& session, const std::wstring& package_path);
