// Ties the platform-free status constants to the Windows ones.
#pragma once

#include <windows.h>

#include "common/status.h"

static_assert(E_FAIL == tarnevox::kStatusFail, "E_FAIL is 0x80004005");
static_assert(E_POINTER == tarnevox::kStatusPointer, "E_POINTER is 0x80004003");
static_assert(sizeof(HRESULT) == sizeof(tarnevox::Status), "status values are 32 bits");
