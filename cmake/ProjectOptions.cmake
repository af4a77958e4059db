# Compiler settings shared by every target of the project.

add_library(tarnevox_options INTERFACE)
target_include_directories(tarnevox_options INTERFACE ${PROJECT_SOURCE_DIR})

# Tests and tools may throw (GoogleTest does); only the plug-in may not.
add_library(tarnevox_test_options INTERFACE)
target_include_directories(tarnevox_test_options INTERFACE ${PROJECT_SOURCE_DIR})

if(WIN32)
  foreach(target tarnevox_options tarnevox_test_options)
    target_compile_definitions(${target} INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE)
  endforeach()
endif()

if(MSVC)
  # The static runtime, so the DLL needs no C++ runtime DLL either.
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  target_compile_options(tarnevox_options INTERFACE /W3 /WX /GR- /EHs-c-)
  target_compile_definitions(tarnevox_options INTERFACE _HAS_EXCEPTIONS=0)
else()
  target_compile_options(tarnevox_options INTERFACE
    -Wall -Wextra -Wshadow -Wconversion -Wno-sign-conversion -Werror)
  if(WIN32)
    # No C++ runtime DLL: nothing throws, nothing asks for type information, and the
    # compiler's own support code is linked in statically.
    target_compile_options(tarnevox_options INTERFACE
      $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
    target_link_options(tarnevox_options INTERFACE -static -static-libgcc -static-libstdc++)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      # Nothing throws and no debugger unwinds the shipping DLL: without the 32-bit unwind
      # tables (a ninth of it) it stays well under 64 KiB.
      target_compile_options(tarnevox_options INTERFACE -fno-asynchronous-unwind-tables)
    endif()
    target_link_options(tarnevox_test_options INTERFACE -static)
  endif()
endif()

option(TARNEVOX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(TARNEVOX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzz build instruments everything for coverage; the targets add libFuzzer's main.
if(TARNEVOX_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined)
  add_link_options(-fsanitize=fuzzer-no-link,address,undefined)
endif()
