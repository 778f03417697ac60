# pelta_build_time(target [INPUTS file...])
#   Gives target the function PeltaBuildTime(): the time (seconds since the epoch) when the
#   target was last built. The stamp is made again whenever the window's objects, one of the
#   project's libraries or one of the INPUTS is newer than it, so a rebuild without a new
#   configure shows the new time, and a build that changes nothing keeps the old one.
function(pelta_build_time target)
  cmake_parse_arguments(PBT "" "" "INPUTS" ${ARGN})
  set(inputs $<TARGET_OBJECTS:pelta_app> ${PBT_INPUTS})
  foreach(lib base recoding channels modbus operations settings)
    if(TARGET ${lib})
      list(APPEND inputs $<TARGET_FILE:${lib}>)
      # A file of another target is only known to exist once that target is built.
      add_dependencies(${target} ${lib})
    endif()
  endforeach()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_build_time.cpp)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DOUT=${out} -P ${CMAKE_SOURCE_DIR}/cmake/WriteBuildTime.cmake
    DEPENDS ${inputs} ${CMAKE_SOURCE_DIR}/cmake/WriteBuildTime.cmake
    COMMENT "Build time of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()
