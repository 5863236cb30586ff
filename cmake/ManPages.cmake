# Manual pages made from each program's own --help at build time, so that they never tell
# another story than the program does. Needs help2man; without it the pages are left out
# and configure says so.
find_program(HELP2MAN_PROGRAM help2man)
if(NOT HELP2MAN_PROGRAM)
  message(STATUS "help2man not found: no manual pages")
endif()

# ostracom_man_page(TARGET COMPONENT SUMMARY [SUBCOMMANDS])
# SUBCOMMANDS: the page also holds each command's own --help, the commands as --help lists them.
function(ostracom_man_page target component summary)
  # Sanitizer builds are for tests, not for installing; their programs' exit would be
  # judged by the sanitizers too.
  if(NOT HELP2MAN_PROGRAM OR OSTRACOM_SANITIZE OR OSTRACOM_FUZZ)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 3 MAN "SUBCOMMANDS" "" "")
  set(page "${CMAKE_BINARY_DIR}/man/${target}.1.gz")
  add_custom_command(OUTPUT "${page}"
    COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${HELP2MAN_PROGRAM} -DPROGRAM=$<TARGET_FILE:${target}>
      -DNAME=${target} -DSUMMARY=${summary} -DVERSION=${PROJECT_VERSION}
      -DSUBCOMMANDS=${MAN_SUBCOMMANDS} -DOUTPUT=${page}
      -P ${PROJECT_SOURCE_DIR}/cmake/MakeManPage.cmake
    DEPENDS ${target} ${PROJECT_SOURCE_DIR}/cmake/MakeManPage.cmake
    COMMENT "Manual page of ${target}" VERBATIM)
  add_custom_target(${target}-man ALL DEPENDS "${page}")
  install(FILES "${page}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()
