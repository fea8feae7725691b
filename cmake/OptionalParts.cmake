# Parts of the build that need more than a compiler, CMake and Qt.
#
# pathwick_part(<switch> <found-variable> <name> <reason-when-missing>)
#   <switch> is AUTO, ON or OFF. Sets <switch>_ENABLED: ON requires the part's
#   libraries and stops the configure without them; AUTO builds the part when
#   they are found and otherwise notes it as skipped.
# pathwick_part_skip(<name> <reason>) notes a part as skipped.
# pathwick_report_skipped() prints the skipped parts on one line.

set_property(GLOBAL PROPERTY PATHWICK_SKIPPED "")

function(pathwick_part_skip name reason)
  set_property(GLOBAL APPEND PROPERTY PATHWICK_SKIPPED "${name} (${reason})")
endfunction()

function(pathwick_part switch found name reason)
  string(TOUPPER "${${switch}}" mode)
  if(NOT mode MATCHES "^(AUTO|ON|OFF)$")
    message(FATAL_ERROR "${switch} is '${${switch}}'; use AUTO, ON or OFF")
  endif()
  set(enabled OFF)
  if(mode STREQUAL "OFF")
    pathwick_part_skip("${name}" "${switch}=OFF")
  elseif(${found})
    set(enabled ON)
  elseif(mode STREQUAL "ON")
    message(FATAL_ERROR "${switch}=ON, but ${reason}")
  else()
    pathwick_part_skip("${name}" "${reason}")
  endif()
  set(${switch}_ENABLED ${enabled} PARENT_SCOPE)
endfunction()

function(pathwick_report_skipped)
  get_property(skipped GLOBAL PROPERTY PATHWICK_SKIPPED)
  if(skipped)
    list(JOIN skipped ", " line)
    message(STATUS "Pathwick skips: ${line}")
  endif()
endfunction()
