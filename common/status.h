// Status values in the HRESULT manner, usable without any Windows header.
#pragma once

#include <cstdint>

namespace tarnevox {

using Status = std::int32_t;

// 0 is success, 1 means nothing was done and that is no error, negative is failure.
inline constexpr Status kStatusOk = 0;
inline constexpr Status kStatusNothingDone = 1;
inline constexpr Status kStatusFail = static_cast<Status>(0x80004005u);     // E_FAIL
inline constexpr Status kStatusPointer = static_cast<Status>(0x80004003u);  // E_POINTER

inline constexpr bool failed(Status status) { return status < 0; }

}  // namespace tarnevox
