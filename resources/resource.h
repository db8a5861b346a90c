// Resource ids shared by the resource script and the code.
#pragma once
#define IDI_LAUNCHER            101
#define IDI_MSIDELETE           102
