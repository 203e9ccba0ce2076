// Read before anything else in the fuzz build's ITK translation units.
// Debian's itk_compiler_detection.h was generated for GCC alone and stops
// with "Unsupported compiler" under clang. clang has every C++ feature that
// header tests GCC 12 for, so the header is read once here as if clang were
// that GCC; its include guard keeps ITK's own includes from reading it again.
#pragma once

#pragma push_macro("__clang__")
#pragma push_macro("__GNUC__")
#pragma push_macro("__GNUC_MINOR__")
#pragma push_macro("__GNUC_PATCHLEVEL__")
#undef __clang__
#undef __GNUC__
#undef __GNUC_MINOR__
#undef __GNUC_PATCHLEVEL__
#define __GNUC__ 12
#define __GNUC_MINOR__ 2
#define __GNUC_PATCHLEVEL__ 0
#include <itk_compiler_detection.h>
#pragma pop_macro("__GNUC_PATCHLEVEL__")
#pragma pop_macro("__GNUC_MINOR__")
#pragma pop_macro("__GNUC__")
#pragma pop_macro("__clang__")
