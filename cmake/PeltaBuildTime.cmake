# pelta_build_time(target INPUTS file...)
#   Gives target the function PeltaBuildTime(): the time (seconds since the epoch) when the
#   target was last built. The stamp is made again whenever one of the INPUTS (objects,
#   libraries, sources that go into the target) is newer than it, so a rebuild without a new
#   configure shows the new time, and a build that changes nothing keeps the old one.
function(pelta_build_time target)
  cmake_parse_arguments(PBT "" "" "INPUTS" ${ARGN})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_build_time.cpp)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DOUT=${out} -P ${CMAKE_SOURCE_DIR}/cmake/WriteBuildTime.cmake
    DEPENDS ${PBT_INPUTS} ${CMAKE_SOURCE_DIR}/cmake/WriteBuildTime.cmake
    COMMENT "Build time of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()

# The inputs every program with the window's code shares: its objects and the project's
# libraries it links.
function(pelta_app_inputs var)
  set(inputs $<TARGET_OBJECTS:pelta_app>)
  foreach(lib base recoding channels modbus operations settings)
    if(TARGET ${lib})
      list(APPEND inputs $<TARGET_FILE:${lib}>)
    endif()
  endforeach()
  set(${var} ${inputs} PARENT_SCOPE)
endfunction()
