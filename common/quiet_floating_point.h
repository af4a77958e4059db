// Arithmetic on a host's thread in a known floating-point state: every exception masked,
// rounding to nearest, double precision, no flushing of tiny values. Hosts may run with
// exceptions unmasked (programs built with Delphi unmask invalid operation, division by
// zero and overflow), and a trap raised by the plug-in would go off inside the host; a
// host's rounding or precision settings would change the results. The caller's whole
// state, control and status flags alike, is put back on the way out, so the host finds it
// exactly as it left it.
//
// On x86 both units are saved by hand: the SSE register that compiled code uses, and the
// x87 unit that runtime libraries may still use. (mingw-w64's <cfenv> leaves the SSE
// register alone on x86-64, so it cannot serve here.) Compilers do not tie arithmetic to
// these register changes, so the guarded work must be calls to functions of other files,
// as the render callback's analysis is; the statements below keep such calls inside.
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
  // All six exceptions masked, no flags, round to nearest, no flush to zero.
  static constexpr unsigned kQuietSse = 0x1F80;
  // All six exceptions masked, 53-bit precision, round to nearest.
  static constexpr unsigned short kQuietX87 = 0x027F;

#if defined(__GNUC__)
  void hold() {
    __asm__ __volatile__("stmxcsr %0" : "=m"(sse_) : : "memory");
    __asm__ __volatile__("ldmxcsr %0" : : "m"(kQuietSse) : "memory");
    // fnstenv stores the x87 environment and masks every x87 exception.
    __asm__ __volatile__("fnstenv %0" : "=m"(x87_) : : "memory");
    __asm__ __volatile__("fldcw %0" : : "m"(kQuietX87) : "memory");
  }
  void restore() {
    __asm__ __volatile__("fldenv %0" : : "m"(x87_) : "memory");
    __asm__ __volatile__("ldmxcsr %0" : : "m"(sse_) : "memory");
  }
#else
  void hold() {
    sse_ = _mm_getcsr();
    _mm_setcsr(kQuietSse);
#if defined(_M_IX86)
    unsigned char* environment = x87_;
    unsigned short control = kQuietX87;
    __asm mov eax, environment
    __asm fnstenv [eax]
    __asm fldcw control
#endif
  }
  void restore() {
#if defined(_M_IX86)
    unsigned char* environment = x87_;
    __asm mov eax, environment
    __asm fldenv [eax]
#endif
    _mm_setcsr(sse_);
  }
#endif

  unsigned sse_ = 0;
  unsigned char x87_[28] = {};  // the protected-mode x87 environment
#else
  void hold() { std::feholdexcept(&saved_); }
  void restore() { std::fesetenv(&saved_); }

  std::fenv_t saved_;
#endif
};

}  // namespace tarnevox
