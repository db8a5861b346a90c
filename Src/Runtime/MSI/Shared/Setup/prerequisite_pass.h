// The prerequisite pass of chainsetup as the entry starts it.
#pragma once
#include <string>

#include "QzSetup.h"

#ifdef QZ_PREREQUISITES
// The driver's prerequisite pass with `features`, then (on 0) its advertisement
// step; the pass's result.
int run_prerequisite_pass(QzSetup& setup, const std::wstring& features);
#endif
