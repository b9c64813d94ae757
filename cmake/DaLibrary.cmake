# One static library per folder; sources are every .cpp in the folder.
# A folder without sources yet gives an interface library so that dependants still link.
function(da_add_library name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
  set(deps)
  foreach(d IN LISTS ARG_DEPS)
    list(APPEND deps ${d})
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    # The libraries build free of warnings, sign conversions included. GCC's flow-dependent
    # warnings change with the optimisation and sanitizer (false alarms inside Qt's and the
    # standard library's inlined code under -O1 with TSan, or -O3): they stay warnings.
    target_compile_options(
        ${name} PRIVATE -Werror -Wsign-conversion
                        $<$<CXX_COMPILER_ID:GNU>:-Wno-error=maybe-uninitialized -Wno-error=restrict
                        -Wno-error=stringop-overflow -Wno-error=array-bounds>)
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${deps})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${deps})
  endif()
endfunction()
