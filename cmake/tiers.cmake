# The instruction-set tiers of the fast paths. On x86, the files of a tier
# (*_avx2.cpp, *_avx512.cpp) are compiled with the features that isa/isa.h
# lists for that tier, and QUARVEL_X86_TIERS tells the kernel table to offer
# them; elsewhere only the portable files are built.
#
# The tier files share with the rest of the program only data and code of
# internal linkage: an inline function compiled there with the tier's
# features could be the copy the linker keeps for every caller.

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86)$")
  set(QUARVEL_X86_TIERS ON)
else()
  set(QUARVEL_X86_TIERS OFF)
endif()

# The compiler options of a tier ("AVX2", "AVX512"), read from isa/isa.h.
function(quarvel_tier_options tier root out)
  file(STRINGS ${root}/isa/isa.h lines)
  # A change of the lists there configures the build again.
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${root}/isa/isa.h)
  set(text "")
  set(inside OFF)
  foreach(line IN LISTS lines)
    if(line MATCHES "^#define QUARVEL_${tier}_FEATURES")
      set(inside ON)
    elseif(inside AND NOT line MATCHES "^ ")
      set(inside OFF)
    endif()
    if(inside)
      string(APPEND text " ${line}")
    endif()
  endforeach()
  string(REGEX MATCHALL "X\\([a-z0-9]+\\)" features "${text}")
  set(options "")
  foreach(feature IN LISTS features)
    string(REGEX REPLACE "X\\(([a-z0-9]+)\\)" "-m\\1" option "${feature}")
    list(APPEND options ${option})
  endforeach()
  if(NOT options)
    message(FATAL_ERROR "isa/isa.h lists no features for the tier ${tier}")
  endif()
  set(${out} ${options} PARENT_SCOPE)
endfunction()

# Removes the x86 tier files from a list of sources where they cannot be
# built, and gives each the options of its tier.
function(quarvel_tier_sources root sources_var)
  set(sources ${${sources_var}})
  if(QUARVEL_X86_TIERS)
    quarvel_tier_options(AVX2 ${root} avx2_options)
    quarvel_tier_options(AVX512 ${root} avx512_options)
    foreach(source IN LISTS sources)
      if(source MATCHES "_avx2\\.cpp$")
        set_property(SOURCE ${source} APPEND PROPERTY COMPILE_OPTIONS ${avx2_options})
      elseif(source MATCHES "_avx512\\.cpp$")
        set_property(SOURCE ${source} APPEND PROPERTY COMPILE_OPTIONS ${avx512_options})
      endif()
    endforeach()
  else()
    list(FILTER sources EXCLUDE REGEX "_avx(2|512)\\.cpp$")
  endif()
  set(${sources_var} ${sources} PARENT_SCOPE)
endfunction()
