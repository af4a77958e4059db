// Arithmetic on a host's thread with every floating-point exception masked. Hosts may run
// with exceptions unmasked (programs built with Delphi unmask invalid operation, division
// by zero and overflow), and a trap raised by the plug-in would go off inside the host.
// The caller's whole state, control and status flags alike, is put back on the way out,
// so the host finds it exactly as it left it.
//
// On x86 both units are saved by hand: the SSE register that compiled code uses, and the
// x87 unit that runtime libraries may still use. (mingw-w64's <cfenv> leaves the SSE
// register alone on x86-64, so it cannot serve here.)
#pragma once

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#define TARNEVOX_X86_FLOATING_POINT 1
#include <xmmintrin.h>
#else
#include <cfenv>
#endif

namespace tarnevox {

class QuietFloatingPoint {
 public:
  QuietFloatingPoint() { hold(); }
  ~QuietFloatingPoint() { restore(); }

  QuietFloatingPoint(const QuietFloatingPoint&) = delete;
  QuietFloatingPoint& operator=(const QuietFloatingPoint&) = delete;

 private:
#if defined(TARNEVOX_X86_FLOATING_POINT)
  static constexpr unsigned kSseMasks = 0x1F80;  // all six exceptions masked
  static constexpr unsigned kSseFlags = 0x003F;  // their sticky flags

  void hold() {
    sse_ = _mm_getcsr();
    _mm_setcsr((sse_ | kSseMasks) & ~kSseFlags);
#if defined(__GNUC__)
    // fnstenv stores the x87 environment and then masks every x87 exception.
    __asm__ __volatile__("fnstenv %0" : "=m"(x87_));
#elif defined(_M_IX86)
    unsigned char* environment = x87_;
    __asm mov eax, environment
    __asm fnstenv [eax]
#endif
  }

  void restore() {
#if defined(__GNUC__)
    __asm__ __volatile__("fldenv %0" : : "m"(x87_));
#elif defined(_M_IX86)
    unsigned char* environment = x87_;
    __asm mov eax, environment
    __asm fldenv [eax]
#endif
    _mm_setcsr(sse_);
  }

  unsigned sse_ = 0;
  unsigned char x87_[28] = {};  // the protected-mode x87 environment
#else
  void hold() { std::feholdexcept(&saved_); }
  void restore() { std::fesetenv(&saved_); }

  std::fenv_t saved_;
#endif
};

}  // namespace tarnevox
