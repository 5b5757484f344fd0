# The vector tiers of the x86 kernels and the compiler flags of each; the tier names match the CPU
# tier table in core/cpu.h. A filter's kernels for a tier are x86/<filter>_<tier>.cpp, the only
# files built with that tier's flags.
set(AUF_X86_TIERS sse2 avx2 avx512)
set(AUF_TIER_FLAGS_sse2 -msse2)
set(AUF_TIER_FLAGS_avx2 -mavx2)
# GCC 12's AVX-512 headers start some intrinsics from a deliberately undefined register, which
# -Wmaybe-uninitialized (and -Wuninitialized, for the 512-bit unpacks and lane shuffles) reports
# wherever they are inlined (clang has no -Wmaybe-uninitialized).
set(AUF_TIER_FLAGS_avx512 -mavx2 -mavx512f -mavx512bw -mavx512vl $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>
                          -Wno-uninitialized)

# auf_add_kernels(CORE PREFIX [DIR]): one object library per tier that has a kernel file
# DIR/x86/PREFIX_TIER.cpp (DIR: this folder by default), linked into CORE, which is then built with
# AUF_X86_SIMD defined. The global property AUF_TIER_OBJECT_LIBRARIES lists the object libraries, for
# the check that they share no code with the rest of the program (scripts/check-tier-objects).
function(auf_add_kernels core prefix)
  if(NOT ENABLE_SIMD OR NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86|x86)$")
    return()
  endif()
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  if(ARGC GREATER 2)
    set(dir ${ARGV2})
  endif()
  foreach(tier ${AUF_X86_TIERS})
    set(source ${dir}/x86/${prefix}_${tier}.cpp)
    if(EXISTS ${source})
      add_library(${prefix}_${tier} OBJECT ${source})
      target_compile_options(${prefix}_${tier} PRIVATE ${AUF_TIER_FLAGS_${tier}})
      target_sources(${core} PRIVATE $<TARGET_OBJECTS:${prefix}_${tier}>)
      set_property(GLOBAL APPEND PROPERTY AUF_TIER_OBJECT_LIBRARIES ${prefix}_${tier})
    endif()
  endforeach()
  target_compile_definitions(${core} PRIVATE AUF_X86_SIMD=1)
endfunction()
